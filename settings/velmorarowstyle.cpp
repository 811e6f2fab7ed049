#include "velmorarowstyle.h"

#include "velmoraimages.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QSpacerItem>

namespace {

const int kRowPointSize = 10;
const int kSpacerSize = 20;
const int kNoIcon = -1;

QFont rowFont(QFont font, int weight)
{
    font.setPointSize(kRowPointSize);
    font.setWeight(weight);
    return font;
}

} // namespace

void VelmoraRowStyle::styleLabel(QLabel *label)
{
    label->setFont(rowFont(label->font(), QFont::Normal));
}

void VelmoraRowStyle::styleEditor(QWidget *editor)
{
    editor->setFont(rowFont(editor->font(), QFont::Bold));
}

QLabel *VelmoraRowStyle::createIconLabel(int iconId, QWidget *row)
{
    if (iconId == kNoIcon)
        return nullptr;
    auto *iconLabel = new QLabel(row);
    iconLabel->setPixmap(pixmapFromId(iconId));
    return iconLabel;
}

void VelmoraRowStyle::fillRow(QHBoxLayout *layout, QLabel *iconLabel, QLabel *textLabel,
                              int textStretch, bool spacer, QWidget *editor)
{
    if (iconLabel)
        layout->addWidget(iconLabel, 0);
    layout->addWidget(textLabel, textStretch);
    if (spacer)
        layout->addItem(new QSpacerItem(kSpacerSize, kSpacerSize, QSizePolicy::Expanding, QSizePolicy::Maximum));
    layout->addWidget(editor, 0);
}
