#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

// Every test program runs inside a Qt application on the offscreen platform, with the settings
// and runtime folders in a throwaway place, so that no test reads or writes the user's own files.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/ovn-test-XXXXXX"));
    if (!scratch.isValid())
        return 2;
    QDir(scratch.path()).mkpath(QStringLiteral("config"));
    QDir(scratch.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(scratch.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", scratch.filePath(QStringLiteral("runtime")).toUtf8());

    // The decoder program's test triggers (see decoding/Decoder_main.cpp): a file whose path holds
    // one of these makes the decoder reading it crash, hang, wait for a "PATH.go" file, take memory
    // until its limit and fault, take it every way a hostile file could, or try what its sandbox
    // refuses. No real file is named so.
    qputenv("OVN_DECODER_TEST_CRASH", "ovn-decoder-crashes");
    qputenv("OVN_DECODER_TEST_HANG", "ovn-decoder-hangs");
    qputenv("OVN_DECODER_TEST_LINGER", "ovn-decoder-lingers");
    qputenv("OVN_DECODER_TEST_WAIT", "ovn-decoder-waits");
    qputenv("OVN_DECODER_TEST_PROBE", "ovn-decoder-probes");
    qputenv("OVN_DECODER_TEST_LIE", "ovn-decoder-lies");
    qputenv("OVN_DECODER_TEST_LARGE", "ovn-decoder-needs-more");
    qputenv("OVN_DECODER_TEST_EXHAUST", "ovn-decoder-exhausts");
    qputenv("OVN_DECODER_TEST_TAKE_MEMORY", "ovn-decoder-takes-memory");
    // ... and the caller's opening of such a file stall, as on a mount that stopped answering.
    qputenv("OVN_DECODER_TEST_STALL_OPEN", "ovn-decoder-stalls-opening");

    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
