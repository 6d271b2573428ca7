#include <runtime/Fonts.h>

#include <cmath>

namespace runtime {

QStringList japaneseGothics() {
    // Both have the metrics of the usual Japanese form face.
    return {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")};
}

QStringList familiesOf(const FontDefinition& definition) {
    QStringList families{QString::fromUtf8(definition.face)};
    if (definition.charset == kShiftJisCharset)
        families << japaneseGothics();
    return families;
}

QFont fontOf(const FontDefinition& definition) {
    QFont font;
    font.setFamilies(familiesOf(definition));
    // Sizes are points at the form's 96 dpi, so a pixel size keeps text and twips in step on
    // any screen.
    font.setPixelSize(int(std::lround(definition.points * 96.0 / 72.0)));
    font.setWeight(QFont::Weight(definition.weight));
    return font;
}

} // namespace runtime
