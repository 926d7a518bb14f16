#include "decode/status_texts.h"

#include "decode/formatting.h"

namespace torvix {

StatusTexts statusTexts(const StatusSnapshot& snapshot, const QLocale& locale) {
    using namespace status_block;
    StatusTexts texts;
    for (std::size_t i = 0; i < std::size(kVersionFields); ++i) {
        const auto version = snapshot.version(kVersionFields[i]);
        texts.versions[i] = versionText(version.major, version.minor, locale);
    }
    for (std::size_t i = 0; i < std::size(kScaledFields); ++i) {
        const ScaledField& field = kScaledFields[i];
        texts.scaled[i] = formatScaled(static_cast<double>(snapshot.raw(field)), field.decimals,
                                       field.scale, field.suffix, locale);
    }
    for (std::size_t i = 0; i < std::size(kHexFields); ++i) {
        const HexField& field = kHexFields[i];
        texts.words[i] =
            QStringView(field.prefix).toString() + hexPadded(snapshot.word(field), field.width);
    }
    for (std::size_t i = 0; i < std::size(kLampRows); ++i)
        texts.lampBits[i] = snapshot.reg(kLampRows[i].reg);
    return texts;
}

}  // namespace torvix
