#include <QCoreApplication>
#include <QVector>

#include <cstring>

// The module communication tests: frames and records, the serial device, the handler, the
// link.
// `test_comm` runs them all; `test_comm handler [function ...]` runs one group, passing the
// rest of the arguments on to Qt Test.
int runFrameTests(int argc, char** argv);
int runDeviceTests(int argc, char** argv);
int runHandlerTests(int argc, char** argv);
int runLinkTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const struct
    {
        const char* name;
        int (*run)(int, char**);
    } groups[] = {{"frames", runFrameTests},
                  {"device", runDeviceTests},
                  {"handler", runHandlerTests},
                  {"link", runLinkTests}};

    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    QVector<char*> args(argv, argv + argc);
    if (only)
        args.remove(1);
    int failures = 0;
    for (const auto& group : groups)
        if (!only || std::strcmp(only, group.name) == 0)
            failures += group.run(static_cast<int>(args.size()), args.data());
    return failures;
}
