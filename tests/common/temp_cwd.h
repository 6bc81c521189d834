#pragma once
// Runs a test inside a fresh temporary working directory, since the settings
// file and the log tree are both relative to the current directory.

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class TempCwdTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    }
    void TearDown() override { QDir::setCurrent(m_previous); }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QString m_previous;
};
