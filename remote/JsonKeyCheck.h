#pragma once

#include <QByteArray>

// True when some object in the JSON text names a key twice. Qt's JSON parser leaks memory
// on such input (a repeated key whose value is an object or array), so these messages are
// refused before parsing. The scan does not validate: text it cannot follow is left to the
// parser to reject.
bool hasDuplicateJsonKeys(const QByteArray& json);
