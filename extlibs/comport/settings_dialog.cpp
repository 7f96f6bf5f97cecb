#include "settings_dialog.h"

#include "comport.h"
#include "port_list.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace comport {

SettingsDialog::SettingsDialog(const PortConfig &config, QWidget *parent) : QDialog(parent)
{
    setObjectName("COMPortSettings");
    setWindowTitle(QStringLiteral("Настройка COM-порта"));

    m_port = new QComboBox(this);
    m_port->setObjectName("PortBox");
    m_port->setEditable(true);
    m_port->setMinimumContentsLength(22);
    m_port->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const std::string &name : excom::availablePorts())
        m_port->addItem(QString::fromStdString(name));
    const QString current = QString::fromStdString(config.name);
    if (m_port->findText(current) < 0)
        m_port->insertItem(0, current);
    m_port->setCurrentText(current);

    m_baud = new QComboBox(this);
    m_baud->setObjectName("BaudBox");
    for (const std::uint16_t *rate = kBaudRates; *rate != 0; ++rate)
        m_baud->addItem(QString::number(*rate), int(*rate));
    m_baud->setCurrentIndex(std::max(0, m_baud->findData(config.baud)));

    const QString labels[3] = {QStringLiteral("Запас на передачу, мс:"), QStringLiteral("Пауза между байтами, мс:"),
                               QStringLiteral("Ожидание ответа, мс:")};
    const std::uint16_t values[3] = {config.timeOut1, config.timeOut2, config.timeOut3};
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("Порт:"), m_port);
    form->addRow(QStringLiteral("Скорость, бод:"), m_baud);
    for (int i = 0; i < 3; ++i) {
        m_timeOut[i] = new QSpinBox(this);
        m_timeOut[i]->setObjectName(QString("TimeOut%1Box").arg(i + 1));
        m_timeOut[i]->setRange(0, 65535);
        m_timeOut[i]->setValue(values[i]);
        form->addRow(labels[i], m_timeOut[i]);
    }
    // Captions of our own: Qt's standard ones follow its translations, which may not be installed.
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::checkAndAccept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

PortConfig SettingsDialog::config() const
{
    PortConfig c;
    c.name = m_port->currentText().trimmed().toStdString();
    c.baud = m_baud->currentData().toInt();
    c.timeOut1 = static_cast<std::uint16_t>(m_timeOut[0]->value());
    c.timeOut2 = static_cast<std::uint16_t>(m_timeOut[1]->value());
    c.timeOut3 = static_cast<std::uint16_t>(m_timeOut[2]->value());
    return c;
}

void SettingsDialog::checkAndAccept()
{
    if (validateConfig(config()) != COMPORT_OK) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("\"%1\" не может быть именем последовательного порта.").arg(m_port->currentText()));
        m_port->setFocus();
        return;
    }
    accept();
}

} // namespace comport
