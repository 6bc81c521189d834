#include "private_files.h"

#include <QFile>
#include <QString>

#include <sys/stat.h>

void useOwnerOnlyPermissions()
{
    umask(S_IRWXG | S_IRWXO);
}

void makeOwnerOnly(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    // A link is left alone: chmod would change what it points to.
    if (lstat(name.constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return;
    chmod(name.constData(), st.st_mode & S_IRWXU);
}
