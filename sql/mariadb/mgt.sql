-- Management database, MariaDB. The same tables, keys and indexes as the
-- embedded engine's script: columns that the operations write without
-- quotes, compare as numbers or sort by are integers; everything else is
-- text; uai_no and usi_no are numbered by the database. Keys, and the
-- columns that hold another table's key, are VARCHAR(255) (InnoDB indexes
-- whole values only up to 3072 bytes); the names that are looked up are
-- indexed on their first 255 characters. Every table is utf8mb4 with the
-- binary collation without trailing-blank padding, so that texts compare
-- and sort by their characters exactly, as on the other engines, whatever
-- the server's and the database's defaults. Table names keep the spelling
-- of the embedded engine's script; the data-access layer adapts the other
-- spellings the statements use. Every statement is idempotent, so the
-- script can run on a database that already has some or all of it.

-- Organisations, groups, users and memberships
CREATE TABLE IF NOT EXISTS umOrg (
  Org_no VARCHAR(255) NOT NULL PRIMARY KEY,
  name TEXT,
  disc TEXT,
  Priority INT,
  top_org_no VARCHAR(255)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umOrg_name ON umOrg(name(255));
CREATE INDEX IF NOT EXISTS umOrg_top ON umOrg(top_org_no);

CREATE TABLE IF NOT EXISTS umGrp (
  Grp_no VARCHAR(255) NOT NULL PRIMARY KEY,
  name TEXT,
  disc TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umGrp_name ON umGrp(name(255));

CREATE TABLE IF NOT EXISTS umUsr (
  usr_no VARCHAR(255) NOT NULL PRIMARY KEY,
  account VARCHAR(255),
  pwd TEXT,
  name TEXT,
  NetName TEXT,
  Address TEXT,
  Phone TEXT,
  Mobile TEXT,
  Email TEXT,
  EmailOA TEXT,
  state INT,
  login_mode TEXT,
  login_count TEXT,
  account_time TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
-- An account names one user: logins take the first row of an account, so a
-- second row would lock its user out.
CREATE UNIQUE INDEX IF NOT EXISTS umUsr_account_unique ON umUsr(account);

CREATE TABLE IF NOT EXISTS umOrg2Usr (
  Org_no VARCHAR(255) NOT NULL,
  Usr_no VARCHAR(255) NOT NULL,
  isMain INT,
  priority INT,
  PRIMARY KEY (Org_no, Usr_no)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umOrg2Usr_usr ON umOrg2Usr(Usr_no);

CREATE TABLE IF NOT EXISTS umGrp2Usr (
  Grp_no VARCHAR(255) NOT NULL,
  Usr_no VARCHAR(255) NOT NULL,
  priority INT,
  PRIMARY KEY (Grp_no, Usr_no)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umGrp2Usr_usr ON umGrp2Usr(Usr_no);

-- Extended attributes of organisations and users
CREATE TABLE IF NOT EXISTS umOrgAddAttr (
  Oaa_no VARCHAR(255) NOT NULL PRIMARY KEY,
  org_no VARCHAR(255),
  name TEXT,
  parse TEXT,
  default_value TEXT,
  data_type INT,
  isNull INT,
  position TEXT,
  isGobal INT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umOrgAddAttr_org ON umOrgAddAttr(org_no);

CREATE TABLE IF NOT EXISTS umOrgAddInst (
  Oaa_no VARCHAR(255) NOT NULL,
  org_no VARCHAR(255) NOT NULL,
  Oai_Value TEXT,
  PRIMARY KEY (Oaa_no, org_no)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umOrgAddInst_org ON umOrgAddInst(org_no);

CREATE TABLE IF NOT EXISTS umUsrAddAttr (
  Uaa_no VARCHAR(255) NOT NULL PRIMARY KEY,
  usr_no VARCHAR(255),
  name TEXT,
  parse TEXT,
  default_value TEXT,
  data_type INT,
  position INT,
  isNull INT,
  isGobal INT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umUsrAddAttr_usr ON umUsrAddAttr(usr_no);

CREATE TABLE IF NOT EXISTS umUsrAddInst (
  uai_no INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  usr_no VARCHAR(255),
  uaa_no VARCHAR(255),
  uai_value TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umUsrAddInst_usr ON umUsrAddInst(usr_no);
CREATE INDEX IF NOT EXISTS umUsrAddInst_uaa ON umUsrAddInst(uaa_no);

-- Security attributes and login records
CREATE TABLE IF NOT EXISTS umUsrSecAttr (
  Usa_no VARCHAR(255) NOT NULL PRIMARY KEY,
  usr_no VARCHAR(255),
  name TEXT,
  parse TEXT,
  default_value TEXT,
  data_type INT,
  isAvail INT,
  isNull INT,
  isGobal INT,
  disc TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umUsrSecAttr_usr ON umUsrSecAttr(usr_no);

CREATE TABLE IF NOT EXISTS umUsrSecInst (
  Usi_no INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  Usa_no VARCHAR(255),
  usr_no VARCHAR(255),
  Usi_Value TEXT,
  isAvail INT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umUsrSecInst_usr ON umUsrSecInst(usr_no, Usa_no);

CREATE TABLE IF NOT EXISTS umLogInfo (
  usr_no VARCHAR(255),
  token VARCHAR(255) NOT NULL PRIMARY KEY,
  login_datetime TEXT,
  login_ip TEXT,
  isAvail INT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS umLogInfo_usr ON umLogInfo(usr_no);

-- The administrator's console: when each of its sessions (a login record,
-- by its token) was last active, so that every host applies one idle time-out.
CREATE TABLE IF NOT EXISTS consoleSession (
  token VARCHAR(255) NOT NULL PRIMARY KEY,
  last_seen TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

-- Applications, resources, rights, authorizations and roles
CREATE TABLE IF NOT EXISTS App (
  App_no VARCHAR(255) NOT NULL PRIMARY KEY,
  name TEXT,
  disc TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

CREATE TABLE IF NOT EXISTS AppRes (
  Res_no VARCHAR(255) NOT NULL PRIMARY KEY,
  name TEXT,
  disc TEXT,
  app_no VARCHAR(255),
  top_res_no VARCHAR(255),
  ISres TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS AppRes_app ON AppRes(app_no);
CREATE INDEX IF NOT EXISTS AppRes_top ON AppRes(top_res_no);

CREATE TABLE IF NOT EXISTS AppRgt (
  Res_no VARCHAR(255) NOT NULL,
  Bit_Nod INT NOT NULL,
  name TEXT,
  disc TEXT,
  PRIMARY KEY (Res_no, Bit_Nod)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

CREATE TABLE IF NOT EXISTS AppAuth (
  res_no VARCHAR(255) NOT NULL,
  OGRU_type INT NOT NULL,
  OGRU_no VARCHAR(255) NOT NULL,
  Res_Auth TEXT,
  isAvail TEXT,
  PRIMARY KEY (res_no, OGRU_type, OGRU_no)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS AppAuth_subject ON AppAuth(OGRU_type, OGRU_no);

CREATE TABLE IF NOT EXISTS AppRol (
  Rol_no VARCHAR(255) NOT NULL PRIMARY KEY,
  App_no VARCHAR(255),
  name TEXT,
  disc TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS AppRol_app ON AppRol(App_no);

CREATE TABLE IF NOT EXISTS AppRol2Usr (
  Rol_no VARCHAR(255) NOT NULL,
  Usr_no VARCHAR(255) NOT NULL,
  priority INT,
  PRIMARY KEY (Rol_no, Usr_no)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS AppRol2Usr_usr ON AppRol2Usr(Usr_no);

-- System data
CREATE TABLE IF NOT EXISTS SysAttr (
  Attr_No VARCHAR(255) NOT NULL PRIMARY KEY,
  name TEXT,
  AttR_type INT,
  AttR_value TEXT,
  disc TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

CREATE TABLE IF NOT EXISTS SysModule (
  Mod_no VARCHAR(255) NOT NULL PRIMARY KEY,
  top_Mod_No VARCHAR(255),
  name TEXT,
  En_Name TEXT,
  Logo TEXT,
  priority INT,
  isInstall INT,
  isVisibility INT,
  Url_Link TEXT,
  Param TEXT,
  disc TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS SysModule_top ON SysModule(top_Mod_No);

CREATE TABLE IF NOT EXISTS SysHlp (
  HLP_no VARCHAR(255) NOT NULL PRIMARY KEY,
  Mod_No VARCHAR(255),
  Mod_Name TEXT,
  top_hlp_no VARCHAR(255),
  Hlp_Topic TEXT,
  Hlp_Context TEXT,
  Hlp_Example TEXT,
  wDateTime TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS SysHlp_top ON SysHlp(top_hlp_no);
CREATE INDEX IF NOT EXISTS SysHlp_mod ON SysHlp(Mod_No);

-- Help references keep duplicates: no key.
CREATE TABLE IF NOT EXISTS SysHlpRef (
  hlp_no VARCHAR(255),
  hlp_no_Ref TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS SysHlpRef_hlp ON SysHlpRef(hlp_no);

CREATE TABLE IF NOT EXISTS SysErr (
  err_no VARCHAR(255) NOT NULL PRIMARY KEY,
  Hlp_no VARCHAR(255),
  Err_Type TEXT,
  disc TEXT,
  isLog INT,
  isVisibility INT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;

CREATE TABLE IF NOT EXISTS SysLog (
  Log_no VARCHAR(255) NOT NULL PRIMARY KEY,
  WDateTime TEXT,
  Mod_no VARCHAR(255),
  Mod_name TEXT,
  disc TEXT,
  Log_Type INT,
  Msg_Type INT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
CREATE INDEX IF NOT EXISTS SysLog_time ON SysLog(WDateTime(64));

-- Passwords a user had before (their Argon2id hashes, never the text), the
-- newest with the highest seq, so that [Policy] history=N can refuse the
-- last N again. Written only while that rule is set.
CREATE TABLE IF NOT EXISTS umPwdHist (
  usr_no VARCHAR(255) NOT NULL,
  pwd TEXT NOT NULL,
  set_time VARCHAR(32) NOT NULL,
  seq INT NOT NULL,
  PRIMARY KEY (usr_no, seq)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
