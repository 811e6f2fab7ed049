#ifndef CVELMORACOMBOBOXELEMENTWIDGET_H
#define CVELMORACOMBOBOXELEMENTWIDGET_H

#include <QList>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QHBoxLayout;
class QLabel;

// One settings row: optional icon, label, combo box.
class CVelmoraComboBoxElementWidget : public QWidget
{
    Q_OBJECT

public:
    // An iconId of -1 gives a row without icon. itemIconIds as for setItems().
    CVelmoraComboBoxElementWidget(const QString &text, const QStringList &items,
                                  const QList<int> &itemIconIds, int iconId,
                                  QWidget *parent = nullptr, bool spacer = true);

    // Replaces the items. With one image id per item each item gets the icon
    // of its id (none for -1); any other number of ids gives plain items.
    void setItems(const QStringList &items, const QList<int> &itemIconIds);

    QComboBox *comboBox() const { return editor; }
    QString labelText() const;
    // The image id the row was built with; -1 for none.
    int iconId() const { return imageId; }
    bool hasSpacer() const { return withSpacer; }

signals:
    void currentIndexChanged(int index);

private:
    QHBoxLayout *layout = nullptr;
    int imageId = -1;
    QLabel *iconLabel = nullptr;
    QLabel *textLabel = nullptr;
    QComboBox *editor = nullptr;
    bool withSpacer = true;
};

#endif // CVELMORACOMBOBOXELEMENTWIDGET_H
