#include "cvelmoracomboboxelementwidget.h"

#include "velmoraimages.h"
#include "velmorarowstyle.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>

namespace {
const int kLabelStretch = 1;
const int kNoIcon = -1;
} // namespace

CVelmoraComboBoxElementWidget::CVelmoraComboBoxElementWidget(const QString &text, const QStringList &items,
                                                             const QList<int> &itemIconIds, int iconId,
                                                             QWidget *parent, bool spacer)
    : QWidget(parent)
    , layout(new QHBoxLayout(this))
    , imageId(iconId)
    , iconLabel(VelmoraRowStyle::createIconLabel(iconId, this))
    , textLabel(new QLabel(this))
    , editor(new QComboBox(this))
    , withSpacer(spacer)
{
    VelmoraRowStyle::styleLabel(textLabel);
    VelmoraRowStyle::styleEditor(editor);
    VelmoraRowStyle::fillRow(layout, iconLabel, textLabel, kLabelStretch, spacer, editor);
    connect(editor, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CVelmoraComboBoxElementWidget::currentIndexChanged);

    textLabel->setText(text);
    setItems(items, itemIconIds);
}

void CVelmoraComboBoxElementWidget::setItems(const QStringList &items, const QList<int> &itemIconIds)
{
    editor->clear();
    if (itemIconIds.isEmpty() || itemIconIds.size() != items.size()) {
        editor->addItems(items);
        return;
    }
    // An item whose id is -1 is still offered, only without an icon: leaving
    // it out would shift every later index away from what the caller meant.
    for (int i = 0; i < items.size(); ++i) {
        if (itemIconIds.at(i) == kNoIcon)
            editor->addItem(items.at(i));
        else
            editor->addItem(iconFromId(itemIconIds.at(i)), items.at(i));
    }
}

QString CVelmoraComboBoxElementWidget::labelText() const
{
    return textLabel->text();
}
