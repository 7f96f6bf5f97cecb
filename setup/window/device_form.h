#pragma once
// Reading the main window's number fields as the instrument's numbers (device_form.cpp), for
// TakeParams and the calibration procedures' reference fields. Window thread.
class QLineEdit;

// A float field's text as a number: optional blanks around, sign, digits with "." as the
// separator, optional exponent, within a 32-bit float; otherwise TConvertError naming the field
// and the text.
float FieldFloat(const QLineEdit *edit);
