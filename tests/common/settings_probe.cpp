// Prints one value of the settings store of the current directory, so tests
// can check what a second process sees.
#include "settings_store.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    const QString text = SettingsStore::instance()->value(QString::fromUtf8(argv[1]),
                                                          QString::fromUtf8(argv[2]));
    std::printf("%s", text.toUtf8().constData());
    return 0;
}
