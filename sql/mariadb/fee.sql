-- Fee database, MariaDB: the same tables and keys as the embedded engine's
-- script: the menu and operator rights of the fee application, the
-- slip-number counters, and the fee slips with their details, attachments
-- and snapshots. Integer columns where the statements write or compare
-- numbers (years, months, detail numbers, flags); text elsewhere, keys and
-- looked-up codes as VARCHAR(255); dates are "YYYY-MM-DD HH:MM:SS" text, as
-- everywhere in the system. Every table is utf8mb4 with the binary
-- collation without trailing-blank padding, as the management tables.
-- Table names keep the embedded engine's spelling. Every statement is
-- idempotent.

-- Menu items; SHOWORDER is text (it also receives the mark "USE").
CREATE TABLE IF NOT EXISTS XT_CS_CD (
  CDBS VARCHAR(255) NOT NULL PRIMARY KEY,
  SCCD VARCHAR(255),
  CDMC TEXT,
  URL TEXT,
  SHOWORDER TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS XT_CS_CD_SCCD ON XT_CS_CD(SCCD);

-- Menu items an operator may use, per JH code.
CREATE TABLE IF NOT EXISTS XT_CS_CZY_QX (
  JH VARCHAR(255) NOT NULL,
  CZY VARCHAR(255) NOT NULL,
  CDBS VARCHAR(255) NOT NULL,
  PRIMARY KEY (JH, CZY, CDBS)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

-- Last serial issued per JH code, year and month (decimal text).
CREATE TABLE IF NOT EXISTS CD_MAX_LSH (
  JH VARCHAR(255) NOT NULL,
  CURYEAR INT NOT NULL,
  CURMONTH INT NOT NULL,
  MAXLSH TEXT,
  PRIMARY KEY (JH, CURYEAR, CURMONTH)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

-- Slip header: one manuscript and what its authors are paid.
CREATE TABLE IF NOT EXISTS T_Script (
  JH VARCHAR(255) NOT NULL,
  Script_Id VARCHAR(255) NOT NULL,
  Title TEXT,
  Author_Names TEXT,
  Section_Name TEXT,
  Page_No TEXT,
  Pub_Date TEXT,
  Script_Type TEXT,
  Word_Count INT,
  Pic_Count INT,
  Fee_Standard TEXT,
  Total_Amount DOUBLE,
  Remark TEXT,
  Operator TEXT,
  Input_Time TEXT,
  Modify_Time TEXT,
  Sign_Id TEXT,
  Sign_Time TEXT,
  PRIMARY KEY (JH, Script_Id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

-- Slip details: one author's share.
CREATE TABLE IF NOT EXISTS T_ScrpDtl (
  JH VARCHAR(255) NOT NULL,
  Script_Id VARCHAR(255) NOT NULL,
  S_NO INT NOT NULL,
  IsExt INT,
  Author_Id VARCHAR(255),
  Percentage DOUBLE,
  Amount DOUBLE,
  PRIMARY KEY (JH, Script_Id, S_NO)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS T_ScrpDtl_Author ON T_ScrpDtl(Author_Id);

-- At most one attachment per slip.
CREATE TABLE IF NOT EXISTS T_ScrpFile (
  JH VARCHAR(255) NOT NULL,
  Script_Id VARCHAR(255) NOT NULL,
  DATA LONGBLOB,
  REMARK TEXT,
  PRIMARY KEY (JH, Script_Id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

-- Snapshots taken at every save: every column of the base table in its
-- order, then I_NO (0 at the first save), filled by INSERT ... SELECT *.
CREATE TABLE IF NOT EXISTS T_Script_Save (
  JH VARCHAR(255) NOT NULL,
  Script_Id VARCHAR(255) NOT NULL,
  Title TEXT,
  Author_Names TEXT,
  Section_Name TEXT,
  Page_No TEXT,
  Pub_Date TEXT,
  Script_Type TEXT,
  Word_Count INT,
  Pic_Count INT,
  Fee_Standard TEXT,
  Total_Amount DOUBLE,
  Remark TEXT,
  Operator TEXT,
  Input_Time TEXT,
  Modify_Time TEXT,
  Sign_Id TEXT,
  Sign_Time TEXT,
  I_NO INT NOT NULL,
  PRIMARY KEY (JH, Script_Id, I_NO)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

CREATE TABLE IF NOT EXISTS T_ScrpDtl_Save (
  JH VARCHAR(255) NOT NULL,
  Script_Id VARCHAR(255) NOT NULL,
  S_NO INT NOT NULL,
  IsExt INT,
  Author_Id VARCHAR(255),
  Percentage DOUBLE,
  Amount DOUBLE,
  I_NO INT NOT NULL,
  PRIMARY KEY (JH, Script_Id, S_NO, I_NO)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
