#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::fputs("usage: lumenarc-get <command> [options]\n", stderr);
    return 2;
}
