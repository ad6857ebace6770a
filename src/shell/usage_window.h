#pragma once

#include <QStringList>
#include <QWidget>

namespace lumen
{

// `use`: the six steps from a search to stored files.
class UsageWindow : public QWidget
{
    Q_OBJECT
public:
    explicit UsageWindow(QWidget *parent = nullptr);
    static QStringList instructions();
};

} // namespace lumen
