#pragma once

#include <QLayout>
#include <QList>

namespace lumen
{

// Lays its items out left to right in their order and starts a new line
// when the next item would not fit, so that a narrow window shows every
// control on more lines instead of cutting the last ones off. Each line is
// as high as its tallest item; items keep their size hints and are aligned
// to the top of their line.
class FlowLayout final : public QLayout
{
public:
    explicit FlowLayout(QWidget *parent = nullptr, int horizontalSpacing = 12,
                        int verticalSpacing = 4);
    ~FlowLayout() override;

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;

    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    // As wide as the widest item: the layout can always wrap down to it.
    QSize minimumSize() const override;
    // Every item on one line.
    QSize sizeHint() const override;
    void setGeometry(const QRect &rect) override;

private:
    // Places the items inside rect (only measures when apply is false) and
    // returns the height used.
    int arrange(const QRect &rect, bool apply) const;

    QList<QLayoutItem *> m_items;
    int m_horizontalSpacing;
    int m_verticalSpacing;
};

} // namespace lumen
