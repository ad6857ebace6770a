#include "shell/maker.h"

#include "engine/app_title.h"
#include "engine/shell.h"

namespace lumen
{

QString suggestionSubject()
{
    return QStringLiteral("我要对[") + ApplicationTitle + QStringLiteral("]提建议");
}

QString suggestionBody(const QDate &date)
{
    // Each label is followed by room to write in.
    struct Field {
        const char16_t *label;
        int blanks;
    };
    static constexpr Field Fields[] = {
        {u" 姓名：", 10}, {u" Email：", 11}, {u" 联系地址：", 11},
        {u" 邮编：", 14}, {u" 电话：", 20},
    };
    QString body = QStringLiteral("软件名称：") + ApplicationTitle;
    for (const Field &f : Fields)
        body += QLatin1Char('\n') + QString::fromUtf16(f.label) + QString(f.blanks, u' ');
    body += QStringLiteral("\n 日期：") + date.toString(Qt::ISODate);
    return body;
}

bool mailSuggestion(Shell &shell, const QDate &date)
{
    return shell.composeMail(SupportMailbox, suggestionSubject(), suggestionBody(date));
}

} // namespace lumen
