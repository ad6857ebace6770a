#pragma once

#include <QDate>
#include <QString>

namespace lumen
{

class Shell;

// The maker's support mailbox, where suggestions and problem reports go.
inline const QString SupportMailbox = QStringLiteral("support@lumenarc.example");

// The suggestion mail: the subject names the program, the body is a form
// with the program's name, blanks to fill in and the date.
QString suggestionSubject();
QString suggestionBody(const QDate &date);

// `MailSuggestion`: opens the user's mail program on a suggestion to the
// maker. False when the desktop has no mail program.
bool mailSuggestion(Shell &shell, const QDate &date = QDate::currentDate());

} // namespace lumen
