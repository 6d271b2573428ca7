#include "FontNotice.h"

#include <QFontDatabase>
#include <QStringList>

#include <runtime/Fonts.h>

#include <algorithm>

namespace display {
namespace {

// The Debian package of the best of the faces the window maps the form's Japanese gothic to.
constexpr const char16_t* kJapaneseGothicPackage = u"fonts-ipafont-gothic";

} // namespace

QString missingFontNotice() {
    const QStringList installed = QFontDatabase::families();
    const QStringList gothics = runtime::japaneseGothics();
    if (std::any_of(gothics.begin(), gothics.end(),
                    [&](const QString& face) { return installed.contains(face); }))
        return {};
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    const QString effect = japanese.isEmpty()
                               ? QStringLiteral("the menu and the texts show empty boxes")
                               : QStringLiteral("the texts are drawn in %1").arg(japanese.first());
    return QStringLiteral("the Japanese font %1 is not installed (Debian package %2); %3")
        .arg(gothics.first(), QString::fromUtf16(kJapaneseGothicPackage), effect);
}

} // namespace display
