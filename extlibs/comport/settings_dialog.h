#pragma once
// The port settings dialog of comport: port, baud rate and the three time-outs of one port
// object. The controls carry object names so that tests find them.
#include "port_object.h"

#include <QDialog>

class QComboBox;
class QSpinBox;

namespace comport {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(const PortConfig &config, QWidget *parent = nullptr);

    // The settings as the controls hold them.
    PortConfig config() const;

private:
    void checkAndAccept();

    QComboBox *m_port;
    QComboBox *m_baud;
    QSpinBox *m_timeOut[3];
};

} // namespace comport
