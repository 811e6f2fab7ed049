#include "cvelmoraspinboxelementwidget.h"

#include "velmorarowstyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace {
const int kLabelStretch = 1;
} // namespace

CVelmoraSpinBoxElementWidget::CVelmoraSpinBoxElementWidget(const QString &text, int value, int iconId,
                                                           QWidget *parent, bool spacer)
    : QWidget(parent)
    , withSpacer(spacer)
    , layout(new QHBoxLayout(this))
    , imageId(iconId)
    , iconLabel(VelmoraRowStyle::createIconLabel(iconId, this))
    , textLabel(new QLabel(this))
    , editor(new QSpinBox(this))
{
    VelmoraRowStyle::styleLabel(textLabel);
    VelmoraRowStyle::styleEditor(editor);
    VelmoraRowStyle::fillRow(layout, iconLabel, textLabel, kLabelStretch, spacer, editor);

    textLabel->setText(text);
    editor->setValue(value);
}

QString CVelmoraSpinBoxElementWidget::labelText() const
{
    return textLabel->text();
}
