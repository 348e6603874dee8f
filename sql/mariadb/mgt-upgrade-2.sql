-- Version 2: the password history of [Policy] history=N.
CREATE TABLE IF NOT EXISTS umPwdHist (
  usr_no VARCHAR(255) NOT NULL,
  pwd TEXT NOT NULL,
  set_time VARCHAR(32) NOT NULL,
  seq INT NOT NULL,
  PRIMARY KEY (usr_no, seq)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
