#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace jsonkeys {

// The first key that appears twice in one object of a JSON text, as Qt would decode it;
// nothing when every object's keys differ. Qt 5.15's parser loses the memory of a value whose
// key repeats, so a text that comes from elsewhere is looked at here before it is parsed. A text
// that is not JSON at all is left to the parser to refuse.
std::optional<QString> repeatedKey(const QByteArray& json);

} // namespace jsonkeys
