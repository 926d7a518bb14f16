#include "decode/status_texts.h"

#include "decode/formatting.h"

namespace torvix {

QString fieldText(const StatusSnapshot& snapshot, status_block::Field field,
                  const QLocale& locale) {
    using status_block::Reading;
    const status_block::FieldInfo& info = status_block::info(field);
    switch (info.reading) {
        case Reading::Version: {
            const auto version = snapshot.version(field);
            return versionText(version.major, version.minor, locale);
        }
        case Reading::Word16:
        case Reading::Word32:
            return QStringView(info.prefix).toString() +
                   hexPadded(static_cast<std::uint64_t>(snapshot.raw(field)),
                             info.reading == Reading::Word32 ? 8 : 4);
        default:
            return formatScaled(static_cast<double>(snapshot.raw(field)), info.decimals, info.scale,
                                info.suffix, locale);
    }
}

StatusTexts statusTexts(const StatusSnapshot& snapshot, const QLocale& locale) {
    StatusTexts texts;
    for (std::size_t i = 0; i < status_block::kFieldCount; ++i)
        texts.fields[i] = fieldText(snapshot, status_block::kFields[i].id, locale);
    for (std::size_t i = 0; i < status_block::kLampRowCount; ++i)
        texts.lampBits[i] = snapshot.reg(status_block::kLampRows[i].reg);
    return texts;
}

}  // namespace torvix
