#ifndef CVELMORAEDITELEMENTWIDGET_H
#define CVELMORAEDITELEMENTWIDGET_H

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QLineEdit;

// One settings row: optional icon, label, right-aligned line edit.
class CVelmoraEditElementWidget : public QWidget
{
    Q_OBJECT

public:
    CVelmoraEditElementWidget(const QString &text, const QString &editText, int iconId,
                              QWidget *parent = nullptr, bool spacer = true);

    // Only decimal digits can be typed from now on; the field may be emptied.
    void setDigitsOnly();

    QLineEdit *lineEdit() const { return editor; }
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
    QLineEdit *editor = nullptr;
};

#endif // CVELMORAEDITELEMENTWIDGET_H
