#pragma once

#include <QString>
#include <optional>

// What the line file's reader, its plan check and its writer say alike: how an entry and a key
// are named in a refusal, and what a sensor's name may hold.
namespace linefile {

QString quoted(const QString& key);
// "Запись 3 (адрес 5)": the 1-based entry, with its address when known.
QString entryText(int entry, std::optional<int> address);
// Why a name cannot be stored on a sensor; empty when it can.
QString nameFault(const QString& name);

} // namespace linefile
