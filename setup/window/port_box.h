#pragma once
// The port lists of the link and search groups (TS0CB0, TS0CB2). A port's name runs from
// "/dev/pts/2" to "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0", and it is
// its end, the adapter's serial number before "-if00-port0", that tells two adapters apart. So
// the closed list shows a name too long for it with its start cut ("…A1B2C3D4-if00-port0"), the
// open list is as wide as its longest name, and the tooltip holds the whole name. Only the
// display is shortened: currentText() stays the whole name. The list keeps the width the form
// gives it whatever names it holds, so that a long name never widens the window.
#include <QComboBox>

class TPortBox : public QComboBox {
    Q_OBJECT
public:
    explicit TPortBox(QWidget *parent = nullptr);

    // The text the closed list shows: the current name, whole when it fits, else its end.
    QString ShownText() const;
    void showPopup() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect TextRect() const;
};
