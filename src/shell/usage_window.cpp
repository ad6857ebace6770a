#include "shell/usage_window.h"

#include "engine/app_title.h"
#include "shell/cover_window.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace lumen
{

QStringList UsageWindow::instructions()
{
    return {
        QStringLiteral("1、在Lumenarc数据分析检索窗口，点击菜单：浏览=>打开Lumenarc首页；"),
        QStringLiteral("2、如果需要从第三方网站进入Lumenarc网站，点击菜单：浏览=>打开指定网址；"),
        QStringLiteral("3、在Lumenarc网页中输入关键词，检索，得到检索以后的列表；"),
        QStringLiteral("4、点击按钮：加入本页到列表，或者 加入全部到列表；"),
        QStringLiteral("5、点击按钮：分析下载，在弹出的菜单中选择需要的；"),
        QStringLiteral("6、到下载窗口，点击开始下载按钮，如果下载出错，切换下载方式，重新下载。"),
    };
}

UsageWindow::UsageWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("use"));
    setWindowTitle(QStringLiteral("软件使用方法") + QLatin1Char('-') + ApplicationTitle);
    setWindowIcon(programIcon());

    auto *text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("Text1"));
    text->setReadOnly(true);
    // Each step on its own line, the last one ended as well.
    text->setPlainText(instructions().join(QLatin1Char('\n')) + QLatin1Char('\n'));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    resize(620, 240);
}

} // namespace lumen

// Compiled here rather than with every other view's meta-object code, so a
// program that shows only this window does not pull in the browser engine.
#include "moc_usage_window.cpp"
