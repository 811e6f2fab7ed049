#include "cvelmoraeditelementwidget.h"

#include "velmorarowstyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {
// The line edit keeps its natural width; the label does not push it.
const int kLabelStretch = 0;
} // namespace

CVelmoraEditElementWidget::CVelmoraEditElementWidget(const QString &text, const QString &editText, int iconId,
                                                     QWidget *parent, bool spacer)
    : QWidget(parent)
    , withSpacer(spacer)
    , layout(new QHBoxLayout(this))
    , imageId(iconId)
    , iconLabel(VelmoraRowStyle::createIconLabel(iconId, this))
    , textLabel(new QLabel(this))
    , editor(new QLineEdit(this))
{
    editor->setAlignment(Qt::AlignRight);
    VelmoraRowStyle::styleLabel(textLabel);
    VelmoraRowStyle::styleEditor(editor);
    VelmoraRowStyle::fillRow(layout, iconLabel, textLabel, kLabelStretch, spacer, editor);

    textLabel->setText(text);
    editor->setText(editText);
}

void CVelmoraEditElementWidget::setDigitsOnly()
{
    // An empty text is Intermediate for this expression, so the field can be
    // cleared while editing.
    editor->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d+")), editor));
}

QString CVelmoraEditElementWidget::labelText() const
{
    return textLabel->text();
}
