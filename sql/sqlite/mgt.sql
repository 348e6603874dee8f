-- Management database, embedded engine. Columns that the operations write
-- without quotes, compare as numbers or sort by are integers; everything else
-- is text. Every statement is idempotent, so the script can run on a
-- database that already has some or all of it. Each engine keeps a script of
-- its own (sql/<dialect>/): their types, keys and idempotent forms differ, so
-- the scripts stay apart though most lines agree; a change to a table is
-- made in every dialect's script.

-- Organisations, groups, users and memberships
CREATE TABLE IF NOT EXISTS umOrg (
  Org_no TEXT NOT NULL PRIMARY KEY,
  name TEXT,
  disc TEXT,
  Priority INTEGER,
  top_org_no TEXT
);
CREATE INDEX IF NOT EXISTS umOrg_name ON umOrg(name);
CREATE INDEX IF NOT EXISTS umOrg_top ON umOrg(top_org_no);

CREATE TABLE IF NOT EXISTS umGrp (
  Grp_no TEXT NOT NULL PRIMARY KEY,
  name TEXT,
  disc TEXT
);
CREATE INDEX IF NOT EXISTS umGrp_name ON umGrp(name);

CREATE TABLE IF NOT EXISTS umUsr (
  usr_no TEXT NOT NULL PRIMARY KEY,
  account TEXT,
  pwd TEXT,
  name TEXT,
  NetName TEXT,
  Address TEXT,
  Phone TEXT,
  Mobile TEXT,
  Email TEXT,
  EmailOA TEXT,
  state INTEGER,
  login_mode TEXT,
  login_count TEXT,
  account_time TEXT
);
-- An account names one user: logins take the first row of an account, so a
-- second row would lock its user out. Databases made before the index was
-- unique lose the plain one once the unique one stands.
CREATE UNIQUE INDEX IF NOT EXISTS umUsr_account_unique ON umUsr(account);
DROP INDEX IF EXISTS umUsr_account;

CREATE TABLE IF NOT EXISTS umOrg2Usr (
  Org_no TEXT NOT NULL,
  Usr_no TEXT NOT NULL,
  isMain INTEGER,
  priority INTEGER,
  PRIMARY KEY (Org_no, Usr_no)
);
CREATE INDEX IF NOT EXISTS umOrg2Usr_usr ON umOrg2Usr(Usr_no);

CREATE TABLE IF NOT EXISTS umGrp2Usr (
  Grp_no TEXT NOT NULL,
  Usr_no TEXT NOT NULL,
  priority INTEGER,
  PRIMARY KEY (Grp_no, Usr_no)
);
CREATE INDEX IF NOT EXISTS umGrp2Usr_usr ON umGrp2Usr(Usr_no);

-- Extended attributes of organisations and users
CREATE TABLE IF NOT EXISTS umOrgAddAttr (
  Oaa_no TEXT NOT NULL PRIMARY KEY,
  org_no TEXT,
  name TEXT,
  parse TEXT,
  default_value TEXT,
  data_type INTEGER,
  "isNull" INTEGER,
  position TEXT,
  isGobal INTEGER
);
CREATE INDEX IF NOT EXISTS umOrgAddAttr_org ON umOrgAddAttr(org_no);

CREATE TABLE IF NOT EXISTS umOrgAddInst (
  Oaa_no TEXT NOT NULL,
  org_no TEXT NOT NULL,
  Oai_Value TEXT,
  PRIMARY KEY (Oaa_no, org_no)
);
CREATE INDEX IF NOT EXISTS umOrgAddInst_org ON umOrgAddInst(org_no);

CREATE TABLE IF NOT EXISTS umUsrAddAttr (
  Uaa_no TEXT NOT NULL PRIMARY KEY,
  usr_no TEXT,
  name TEXT,
  parse TEXT,
  default_value TEXT,
  data_type INTEGER,
  position INTEGER,
  "isNull" INTEGER,
  isGobal INTEGER
);
CREATE INDEX IF NOT EXISTS umUsrAddAttr_usr ON umUsrAddAttr(usr_no);

CREATE TABLE IF NOT EXISTS umUsrAddInst (
  uai_no INTEGER PRIMARY KEY AUTOINCREMENT,
  usr_no TEXT,
  uaa_no TEXT,
  uai_value TEXT
);
CREATE INDEX IF NOT EXISTS umUsrAddInst_usr ON umUsrAddInst(usr_no);
CREATE INDEX IF NOT EXISTS umUsrAddInst_uaa ON umUsrAddInst(uaa_no);

-- Security attributes and login records
CREATE TABLE IF NOT EXISTS umUsrSecAttr (
  Usa_no TEXT NOT NULL PRIMARY KEY,
  usr_no TEXT,
  name TEXT,
  parse TEXT,
  default_value TEXT,
  data_type INTEGER,
  isAvail INTEGER,
  "isNull" INTEGER,
  isGobal INTEGER,
  disc TEXT
);
CREATE INDEX IF NOT EXISTS umUsrSecAttr_usr ON umUsrSecAttr(usr_no);

CREATE TABLE IF NOT EXISTS umUsrSecInst (
  Usi_no INTEGER PRIMARY KEY AUTOINCREMENT,
  Usa_no TEXT,
  usr_no TEXT,
  Usi_Value TEXT,
  isAvail INTEGER
);
CREATE INDEX IF NOT EXISTS umUsrSecInst_usr ON umUsrSecInst(usr_no, Usa_no);

CREATE TABLE IF NOT EXISTS umLogInfo (
  usr_no TEXT,
  token TEXT NOT NULL PRIMARY KEY,
  login_datetime TEXT,
  login_ip TEXT,
  isAvail INTEGER
);
CREATE INDEX IF NOT EXISTS umLogInfo_usr ON umLogInfo(usr_no);

-- The administrator's console: when each of its sessions (a login record,
-- by its token) was last active, so that every host applies one idle time-out.
CREATE TABLE IF NOT EXISTS consoleSession (
  token TEXT NOT NULL PRIMARY KEY,
  last_seen TEXT
);

-- Applications, resources, rights, authorizations and roles
CREATE TABLE IF NOT EXISTS App (
  App_no TEXT NOT NULL PRIMARY KEY,
  name TEXT,
  disc TEXT
);

CREATE TABLE IF NOT EXISTS AppRes (
  Res_no TEXT NOT NULL PRIMARY KEY,
  name TEXT,
  disc TEXT,
  app_no TEXT,
  top_res_no TEXT,
  ISres TEXT
);
CREATE INDEX IF NOT EXISTS AppRes_app ON AppRes(app_no);
CREATE INDEX IF NOT EXISTS AppRes_top ON AppRes(top_res_no);

CREATE TABLE IF NOT EXISTS AppRgt (
  Res_no TEXT NOT NULL,
  Bit_Nod INTEGER NOT NULL,
  name TEXT,
  disc TEXT,
  PRIMARY KEY (Res_no, Bit_Nod)
);

CREATE TABLE IF NOT EXISTS AppAuth (
  res_no TEXT NOT NULL,
  OGRU_type INTEGER NOT NULL,
  OGRU_no TEXT NOT NULL,
  Res_Auth TEXT,
  isAvail TEXT,
  PRIMARY KEY (res_no, OGRU_type, OGRU_no)
);
CREATE INDEX IF NOT EXISTS AppAuth_subject ON AppAuth(OGRU_type, OGRU_no);

CREATE TABLE IF NOT EXISTS AppRol (
  Rol_no TEXT NOT NULL PRIMARY KEY,
  App_no TEXT,
  name TEXT,
  disc TEXT
);
CREATE INDEX IF NOT EXISTS AppRol_app ON AppRol(App_no);

CREATE TABLE IF NOT EXISTS AppRol2Usr (
  Rol_no TEXT NOT NULL,
  Usr_no TEXT NOT NULL,
  priority INTEGER,
  PRIMARY KEY (Rol_no, Usr_no)
);
CREATE INDEX IF NOT EXISTS AppRol2Usr_usr ON AppRol2Usr(Usr_no);

-- System data
CREATE TABLE IF NOT EXISTS SysAttr (
  Attr_No TEXT NOT NULL PRIMARY KEY,
  name TEXT,
  AttR_type INTEGER,
  AttR_value TEXT,
  disc TEXT
);

CREATE TABLE IF NOT EXISTS SysModule (
  Mod_no TEXT NOT NULL PRIMARY KEY,
  top_Mod_No TEXT,
  name TEXT,
  En_Name TEXT,
  Logo TEXT,
  priority INTEGER,
  isInstall INTEGER,
  isVisibility INTEGER,
  Url_Link TEXT,
  Param TEXT,
  disc TEXT
);
CREATE INDEX IF NOT EXISTS SysModule_top ON SysModule(top_Mod_No);

CREATE TABLE IF NOT EXISTS SysHlp (
  HLP_no TEXT NOT NULL PRIMARY KEY,
  Mod_No TEXT,
  Mod_Name TEXT,
  top_hlp_no TEXT,
  Hlp_Topic TEXT,
  Hlp_Context TEXT,
  Hlp_Example TEXT,
  wDateTime TEXT
);
CREATE INDEX IF NOT EXISTS SysHlp_top ON SysHlp(top_hlp_no);
CREATE INDEX IF NOT EXISTS SysHlp_mod ON SysHlp(Mod_No);

-- Help references keep duplicates: no key.
CREATE TABLE IF NOT EXISTS SysHlpRef (
  hlp_no TEXT,
  hlp_no_Ref TEXT
);
CREATE INDEX IF NOT EXISTS SysHlpRef_hlp ON SysHlpRef(hlp_no);

CREATE TABLE IF NOT EXISTS SysErr (
  err_no TEXT NOT NULL PRIMARY KEY,
  Hlp_no TEXT,
  Err_Type TEXT,
  disc TEXT,
  isLog INTEGER,
  isVisibility INTEGER
);

CREATE TABLE IF NOT EXISTS SysLog (
  Log_no TEXT NOT NULL PRIMARY KEY,
  WDateTime TEXT,
  Mod_no TEXT,
  Mod_name TEXT,
  disc TEXT,
  Log_Type INTEGER,
  Msg_Type INTEGER
);
CREATE INDEX IF NOT EXISTS SysLog_time ON SysLog(WDateTime);

-- Passwords a user had before (their Argon2id hashes, never the text), the
-- newest with the highest seq, so that [Policy] history=N can refuse the
-- last N again. Written only while that rule is set.
CREATE TABLE IF NOT EXISTS umPwdHist (
  usr_no TEXT NOT NULL,
  pwd TEXT NOT NULL,
  set_time TEXT NOT NULL,
  seq INTEGER NOT NULL,
  PRIMARY KEY (usr_no, seq)
);
