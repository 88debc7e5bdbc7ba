-- A script that fails at its second statement: dbquery --init must leave no file.
CREATE TABLE t (a);
INSERT INTO nowhere VALUES (1);
