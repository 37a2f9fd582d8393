// SPDX-License-Identifier: GPL-3.0-or-later
// For tests of files that are not plain files: what a path is, and a watch that tells whether
// anything opened a FIFO for reading.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The path's status, its link followed or not; a mode of 0 when there is nothing there.
inline struct stat statOf(const QString &path, bool followLink = true)
{
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if ((followLink ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0)
        st.st_mode = 0;
    return st;
}

// Whether anything opens the FIFO for reading while the watch lives: its writer then gets in
// (and ends that reader's wait, so that a test fails instead of hanging).
class FifoWatch
{
public:
    explicit FifoWatch(const QString &fifo) : m_fifo(QFile::encodeName(fifo))
    {
        // Only a FIFO: anything else (a device such as /dev/zero) would take the writer at once
        // and look opened, whether or not the program touched it.
        if (!S_ISFIFO(statOf(fifo).st_mode))
            return;
        m_thread = std::thread([this] {
            while (!m_done) {
                const int fd = ::open(m_fifo.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    m_opened = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~FifoWatch() { stop(); }
    FifoWatch(const FifoWatch &) = delete;
    FifoWatch &operator=(const FifoWatch &) = delete;

    bool openedForReading()
    {
        stop();
        return m_opened;
    }

private:
    void stop()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    QByteArray m_fifo;
    std::atomic<bool> m_done{false}, m_opened{false};
    std::thread m_thread;
};
