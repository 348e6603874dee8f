-- Version 2: the password history of [Policy] history=N.
CREATE TABLE IF NOT EXISTS umPwdHist (
  usr_no TEXT NOT NULL,
  pwd TEXT NOT NULL,
  set_time TEXT NOT NULL,
  seq INTEGER NOT NULL,
  PRIMARY KEY (usr_no, seq)
);
