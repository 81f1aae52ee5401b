#include "update/UpdateNotesUtils.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

// Text between tags: entities stay as written, anything else that is markup is escaped.
QString escapeText(const QString& text)
{
    static const QRegularExpression entity(
        QStringLiteral("^&(#[0-9]{1,7}|#x[0-9a-fA-F]{1,6}|[a-zA-Z]{1,10});"));
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('&') && entity.match(text.mid(i, 12)).hasMatch())
            out += c;
        else if (c == QLatin1Char('&'))
            out += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            out += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            out += QLatin1String("&gt;");
        else
            out += c;
    }
    return out;
}

QString link(const QString& attributes)
{
    static const QRegularExpression href(QStringLiteral("href\\s*=\\s*[\"']([^\"']*)[\"']"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QUrl url(href.match(attributes).captured(1), QUrl::StrictMode);
    if (url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty())
        return QStringLiteral("<a href=\"%1\">")
            .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped());
    return QStringLiteral("<a>");
}

} // namespace

QString UpdateNotesUtils::sanitize(const QString& html)
{
    static const QRegularExpression tag(QStringLiteral("<(/?)([a-zA-Z][a-zA-Z0-9]*)([^<>]*)>"));
    static const QStringList allowed{
        QStringLiteral("p"),  QStringLiteral("br"), QStringLiteral("ul"),     QStringLiteral("ol"),
        QStringLiteral("li"), QStringLiteral("b"),  QStringLiteral("strong"), QStringLiteral("i"),
        QStringLiteral("em"), QStringLiteral("a")};
    QString out;
    int nDone = 0;
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += escapeText(html.mid(nDone, match.capturedStart() - nDone));
        nDone = match.capturedEnd();
        const QString name = match.captured(2).toLower();
        if (!allowed.contains(name))
            continue;
        const bool bClosing = !match.captured(1).isEmpty();
        if (name == QLatin1String("a") && !bClosing)
            out += link(match.captured(3));
        else
            out += QStringLiteral("<%1%2>").arg(bClosing ? QStringLiteral("/") : QString(), name);
    }
    return out + escapeText(html.mid(nDone));
}
