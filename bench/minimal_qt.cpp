// The least a Qt console program does: start, make its application object, end. Its wall time
// is the start-up that bench_oneshot sets beside a whole run of velduo.
#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return 0;
}
