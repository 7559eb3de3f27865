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

-- Buttons the user made on the phone: a label and the keys they press, in the user's order.
-- `keys` is compact JSON, {"hold":[codes],"steps":[[codes],...]}, checked when written.
CREATE TABLE UserButton (
    id      INTEGER PRIMARY KEY,
    label   TEXT,
    keys    TEXT,
    sortNum INTEGER
);

CREATE INDEX UserButtonOrder ON UserButton (sortNum, id);
