-- Fee database, PostgreSQL: the same tables and keys as the embedded
-- engine's script: the menu and operator rights of the fee
-- application, the slip-number counters, and the fee slips with their
-- details, attachments and snapshots. Integer columns where the statements
-- write or compare numbers (years, months, detail numbers, flags); text
-- elsewhere; dates are "YYYY-MM-DD HH:MM:SS" text, as everywhere in the
-- system. Names are left unquoted, so that they fold to lower case as the
-- statements' own unquoted names do. Every statement is idempotent. A change
-- to a table is made in every dialect's script, and in its snapshot table.

-- Menu items; SHOWORDER is text (it also receives the mark "USE").
CREATE TABLE IF NOT EXISTS XT_CS_CD (
  CDBS TEXT NOT NULL PRIMARY KEY,
  SCCD TEXT,
  CDMC TEXT,
  URL TEXT,
  SHOWORDER TEXT
);
CREATE INDEX IF NOT EXISTS XT_CS_CD_SCCD ON XT_CS_CD(SCCD);

-- Menu items an operator may use, per JH code.
CREATE TABLE IF NOT EXISTS XT_CS_CZY_QX (
  JH TEXT NOT NULL,
  CZY TEXT NOT NULL,
  CDBS TEXT NOT NULL,
  PRIMARY KEY (JH, CZY, CDBS)
);

-- Last serial issued per JH code, year and month (decimal text).
CREATE TABLE IF NOT EXISTS CD_MAX_LSH (
  JH TEXT NOT NULL,
  CURYEAR INTEGER NOT NULL,
  CURMONTH INTEGER NOT NULL,
  MAXLSH TEXT,
  PRIMARY KEY (JH, CURYEAR, CURMONTH)
);

-- Slip header: one manuscript and what its authors are paid.
CREATE TABLE IF NOT EXISTS T_Script (
  JH TEXT NOT NULL,
  Script_Id TEXT NOT NULL,
  Title TEXT,
  Author_Names TEXT,
  Section_Name TEXT,
  Page_No TEXT,
  Pub_Date TEXT,
  Script_Type TEXT,
  Word_Count INTEGER,
  Pic_Count INTEGER,
  Fee_Standard TEXT,
  Total_Amount DOUBLE PRECISION,
  Remark TEXT,
  Operator TEXT,
  Input_Time TEXT,
  Modify_Time TEXT,
  Sign_Id TEXT,
  Sign_Time TEXT,
  PRIMARY KEY (JH, Script_Id)
);

-- Slip details: one author's share.
CREATE TABLE IF NOT EXISTS T_ScrpDtl (
  JH TEXT NOT NULL,
  Script_Id TEXT NOT NULL,
  S_NO INTEGER NOT NULL,
  IsExt INTEGER,
  Author_Id TEXT,
  Percentage DOUBLE PRECISION,
  Amount DOUBLE PRECISION,
  PRIMARY KEY (JH, Script_Id, S_NO)
);
CREATE INDEX IF NOT EXISTS T_ScrpDtl_Author ON T_ScrpDtl(Author_Id);

-- At most one attachment per slip.
CREATE TABLE IF NOT EXISTS T_ScrpFile (
  JH TEXT NOT NULL,
  Script_Id TEXT NOT NULL,
  DATA BYTEA,
  REMARK TEXT,
  PRIMARY KEY (JH, Script_Id)
);

-- Snapshots taken at every save: every column of the base table in its
-- order, then I_NO (0 at the first save), filled by INSERT ... SELECT *.
CREATE TABLE IF NOT EXISTS T_Script_Save (
  JH TEXT NOT NULL,
  Script_Id TEXT NOT NULL,
  Title TEXT,
  Author_Names TEXT,
  Section_Name TEXT,
  Page_No TEXT,
  Pub_Date TEXT,
  Script_Type TEXT,
  Word_Count INTEGER,
  Pic_Count INTEGER,
  Fee_Standard TEXT,
  Total_Amount DOUBLE PRECISION,
  Remark TEXT,
  Operator TEXT,
  Input_Time TEXT,
  Modify_Time TEXT,
  Sign_Id TEXT,
  Sign_Time TEXT,
  I_NO INTEGER NOT NULL,
  PRIMARY KEY (JH, Script_Id, I_NO)
);

CREATE TABLE IF NOT EXISTS T_ScrpDtl_Save (
  JH TEXT NOT NULL,
  Script_Id TEXT NOT NULL,
  S_NO INTEGER NOT NULL,
  IsExt INTEGER,
  Author_Id TEXT,
  Percentage DOUBLE PRECISION,
  Amount DOUBLE PRECISION,
  I_NO INTEGER NOT NULL,
  PRIMARY KEY (JH, Script_Id, S_NO, I_NO)
);
