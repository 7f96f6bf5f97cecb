#pragma once
// The link libraries' own reply allowances, for the tests that measure them or wait for silence.
//
// The suite's environment widens both libraries' allowances (tests/test_environment.cmake), so
// that a simulator woken late does not fail a read or a poll. A test that judges the allowance
// itself, or that expects no answer at all (a silent address, a search over empty addresses),
// must see the field's values: it holds a FieldAllowances while its links exchange. The
// libraries read the variables at every exchange.
#include <QByteArray>
#include <QtGlobal>

#include <array>

class FieldAllowances {
public:
    FieldAllowances()
    {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            m_saved[i] = qgetenv(kNames[i]);
            m_set[i] = qEnvironmentVariableIsSet(kNames[i]);
            qunsetenv(kNames[i]);
        }
    }
    ~FieldAllowances()
    {
        for (std::size_t i = 0; i < kNames.size(); ++i)
            if (m_set[i])
                qputenv(kNames[i], m_saved[i]);
            else
                qunsetenv(kNames[i]);
    }
    FieldAllowances(const FieldAllowances &) = delete;
    FieldAllowances &operator=(const FieldAllowances &) = delete;

private:
    static constexpr std::array<const char *, 2> kNames{"EX_COM_REPLY_ALLOWANCE_MS", "COMPORT_ANSWER_TIMEOUT_MS"};
    std::array<QByteArray, 2> m_saved;
    std::array<bool, 2> m_set{};
};
