#pragma once
// Reading and writing single values of an INI file, keeping everything else in it untouched.

#include <QString>
#include <QStringView>
#include <optional>

namespace torvix {

// Longer values are cut to this many characters when read.
inline constexpr qsizetype kIniValueMaxLength = 254;
// A bigger file is not a configuration file; it is refused rather than scanned or rewritten.
inline constexpr qint64 kIniFileMaxSize = 1024 * 1024;

// The value of `key` in `section` (both matched without regard to letter case), without
// surrounding blanks; `defaultValue` when the file, the section or the key is missing.
// Nothing when the file is there but cannot be read: not a regular file, unreadable, too big.
[[nodiscard]] std::optional<QString> readIniString(const QString& path, QStringView section,
                                                   QStringView key, const QString& defaultValue);

// Stores `value` under `key`, creating the file, the section or the key when missing; every
// other byte of the file stays as it was. Line breaks in `value` become blanks; blanks around
// it are left out, as reading would drop them. The file is replaced in one step, so a failed
// write leaves the old file whole. False when refused.
[[nodiscard]] bool writeIniString(const QString& path, QStringView section, QStringView key,
                                  const QString& value);

}  // namespace torvix
