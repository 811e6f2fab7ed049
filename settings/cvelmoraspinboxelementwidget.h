#ifndef CVELMORASPINBOXELEMENTWIDGET_H
#define CVELMORASPINBOXELEMENTWIDGET_H

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QSpinBox;

// One settings row: optional icon, label, spin box. The caller sets the range.
class CVelmoraSpinBoxElementWidget : public QWidget
{
    Q_OBJECT

public:
    CVelmoraSpinBoxElementWidget(const QString &text, int value, int iconId,
                                 QWidget *parent = nullptr, bool spacer = true);

    QSpinBox *spinBox() const { return editor; }
    QString labelText() const;
    // The image id the row was built with; -1 for none.
    int iconId() const { return imageId; }
    bool hasSpacer() const { return withSpacer; }

private:
    bool withSpacer = true;
    QHBoxLayout *layout = nullptr;
    int imageId = -1;
    QLabel *iconLabel = nullptr;
    QLabel *textLabel = nullptr;
    QSpinBox *editor = nullptr;
};

#endif // CVELMORASPINBOXELEMENTWIDGET_H
