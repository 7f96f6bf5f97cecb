#pragma once
// A number edit that shows its value without decimals but keeps the value it was given: a
// stored 12.5 reads "13" (rounded for the eye) and stays 12.5 unless the user types a new one.
#include <QDoubleSpinBox>

#include <cmath>

class TNumberEdit : public QDoubleSpinBox {
public:
    explicit TNumberEdit(QWidget *parent = nullptr) : QDoubleSpinBox(parent) { setDecimals(15); }

    QString textFromValue(double value) const override { return QString::number(std::round(value), 'f', 0); }
};
