#ifndef VELMORACONFWIDGET_H
#define VELMORACONFWIDGET_H

#include <QStringList>
#include <QWidget>

#include <functional>

class CVelmoraComboBoxElementWidget;
class CVelmoraEditElementWidget;
class CVelmoraSpinBoxElementWidget;
class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QPushButton;
class QVBoxLayout;

// The settings window: one row per field of the configuration record. "Apply"
// stores the rows in the record, rewrites the configuration file and emits
// applySignal(); "Cancel" and the close button only hide the window.
class VelmoraConfWidget : public QWidget
{
    Q_OBJECT

public:
    explicit VelmoraConfWidget(QWidget *parent = nullptr);

    // Fills every row from the configuration record.
    void loadConf();

    // The directory whose "conf/" receives the file on "Apply"; the
    // executable's directory unless set otherwise.
    void setApplicationDirectory(const QString &directory);

    // Where the "COM:" row learns which serial ports the machine has; each
    // loadConf() asks again, so an adapter plugged in meanwhile is offered.
    void setMachinePortLister(std::function<QStringList()> lister);

    CVelmoraSpinBoxElementWidget *portRow() const { return portElement; }
    CVelmoraComboBoxElementWidget *comNameRow() const { return comNameElement; }
    CVelmoraComboBoxElementWidget *baudRateRow() const { return baudRateElement; }
    CVelmoraComboBoxElementWidget *dataBitsRow() const { return dataBitsElement; }
    CVelmoraComboBoxElementWidget *parityRow() const { return parityElement; }
    CVelmoraComboBoxElementWidget *stopBitsRow() const { return stopBitsElement; }
    CVelmoraEditElementWidget *serverRow() const { return serverElement; }
    CVelmoraEditElementWidget *lineRow() const { return lineElement; }
    CVelmoraSpinBoxElementWidget *keepAliveRow() const { return keepAliveElement; }
    CVelmoraComboBoxElementWidget *useTimeRow() const { return useTimeElement; }
    // The group of the settings beyond the ten, and its rows.
    QGroupBox *extraGroup() const { return extraGroupBox; }
    CVelmoraSpinBoxElementWidget *logDaysRow() const { return logDaysElement; }
    CVelmoraSpinBoxElementWidget *supervisionRow() const { return supervisionElement; }
    CVelmoraComboBoxElementWidget *devicesRow() const { return devicesElement; }
    CVelmoraEditElementWidget *httpAddressRow() const { return httpAddressElement; }
    CVelmoraEditElementWidget *httpPasswordRow() const { return httpPasswordElement; }
    QCheckBox *httpPasswordClearCheckBox() const { return httpPasswordClearBox; }
    CVelmoraSpinBoxElementWidget *ackWaitRow() const { return ackWaitElement; }
    CVelmoraEditElementWidget *fallbackRow() const { return fallbackElement; }
    QPushButton *applyButton() const { return applyPushButton; }
    QPushButton *cancelButton() const { return cancelPushButton; }

signals:
    void applySignal();

public slots:
    void applySlot();
    void cancelSlot();

private:
    QVBoxLayout *mainLayout = nullptr;
    QHBoxLayout *groupsLayout = nullptr;
    CVelmoraSpinBoxElementWidget *portElement = nullptr;
    QGroupBox *comGroupBox = nullptr;
    CVelmoraComboBoxElementWidget *comNameElement = nullptr;
    CVelmoraComboBoxElementWidget *baudRateElement = nullptr;
    CVelmoraComboBoxElementWidget *dataBitsElement = nullptr;
    CVelmoraComboBoxElementWidget *parityElement = nullptr;
    CVelmoraComboBoxElementWidget *stopBitsElement = nullptr;
    CVelmoraEditElementWidget *serverElement = nullptr;
    CVelmoraEditElementWidget *lineElement = nullptr;
    CVelmoraSpinBoxElementWidget *keepAliveElement = nullptr;
    CVelmoraComboBoxElementWidget *useTimeElement = nullptr;
    QGroupBox *extraGroupBox = nullptr;
    // The rows of the extra group, in the order they are shown; a new
    // setting adds its row here, before the final stretch.
    QVBoxLayout *extraLayout = nullptr;
    CVelmoraSpinBoxElementWidget *logDaysElement = nullptr;
    CVelmoraSpinBoxElementWidget *supervisionElement = nullptr;
    CVelmoraComboBoxElementWidget *devicesElement = nullptr;
    CVelmoraEditElementWidget *httpAddressElement = nullptr;
    CVelmoraEditElementWidget *httpPasswordElement = nullptr;
    QCheckBox *httpPasswordClearBox = nullptr;
    CVelmoraSpinBoxElementWidget *ackWaitElement = nullptr;
    CVelmoraEditElementWidget *fallbackElement = nullptr;
    QPushButton *applyPushButton = nullptr;
    QPushButton *cancelPushButton = nullptr;
    QString applicationDirectory;
    std::function<QStringList()> machinePortLister;
};

#endif // VELMORACONFWIDGET_H
