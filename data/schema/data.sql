-- Registered desktop applications and media folders.
-- Keys must be the tables' integer row ids: new keys are read back with lastInsertId.
-- No NOT NULL on the text columns: a record's unset text is bound as NULL and reads back empty.
CREATE TABLE DesktopApp (
    id      INTEGER PRIMARY KEY,
    name    TEXT,
    path    TEXT,
    workDir TEXT,
    param   TEXT,
    sortNum INTEGER
);

CREATE INDEX DesktopAppOrder ON DesktopApp (sortNum, id);

CREATE TABLE MediaFolder (
    id      INTEGER PRIMARY KEY,
    name    TEXT,
    path    TEXT,
    sortNum INTEGER
);

CREATE INDEX MediaFolderOrder ON MediaFolder (sortNum, id);
