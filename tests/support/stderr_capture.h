#pragma once
// This process's standard error sent to a file for a while: for tests of what a program says
// there when nobody is there to answer it.
#include "tests/support/file_bytes.h"

#include <QFile>
#include <QString>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

class StderrCapture {
public:
    explicit StderrCapture(QString path) : m_path(std::move(path))
    {
        std::fflush(stderr);
        m_kept = ::dup(STDERR_FILENO);
        const int file = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
    }
    ~StderrCapture() { finish(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // Standard error back where it was; what was said meanwhile.
    QByteArray finish()
    {
        if (m_kept >= 0) {
            std::fflush(stderr);
            ::dup2(m_kept, STDERR_FILENO);
            ::close(m_kept);
            m_kept = -1;
        }
        return fileBytes(m_path);
    }

private:
    QString m_path;
    int m_kept = -1;
};
