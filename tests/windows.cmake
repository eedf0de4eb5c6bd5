# The tests of the Windows build, run under Wine by scripts/wine-tests.sh
# (every *_tests.exe, without the Root… and Slow… suites, as the quick and the
# window tiers are on Linux). Not built here: what needs Linux itself (other
# users, FUSE and loop mounts, strace and fanotify, signals, FIFOs and
# sockets, the cron lines) and what sets its trees up with POSIX calls.
find_package(Qt6 REQUIRED COMPONENTS Test)

add_library(kavlento_testsupport STATIC
    support/ArchiveTestSupport.cpp
    support/ArchiveTestSupport_windows.cpp
    support/Controls.cpp
    support/StepFaults.cpp
    support/TempFolder.cpp
    support/TestMain.cpp
)
target_include_directories(kavlento_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kavlento_testsupport PUBLIC kavlento_sources GTest::gtest Qt6::Widgets
    Qt6::Test PRIVATE PkgConfig::LIBZIP ZLIB::ZLIB)

function(kavlento_test name library)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE kavlento_testsupport ${library})
endfunction()

kavlento_test(base_tests kavlento_base
    base/FailureTest.cpp
    base/NameStoreTest.cpp
    base/ThreadCacheTest.cpp
)
kavlento_test(fs_tests kavlento_fs
    fs/FolderScannerTest.cpp
    fs/SystemNamesTest.cpp
    fs/WindowsFilesTest.cpp
    fs/WindowsOpenFolderTest.cpp
)
kavlento_test(zip_tests kavlento_zip
    zip/Pbkdf2Sha1Test.cpp
    zip/WinZipAesTest.cpp
    zip/ZipFormatTest.cpp
)
target_link_libraries(zip_tests PRIVATE OpenSSL::Crypto ZLIB::ZLIB)
kavlento_test(store_tests kavlento_store
    store/CodepageTest.cpp
    store/DelimitedTextTest.cpp
    store/TargetSettingTest.cpp
)
kavlento_test(archive_tests kavlento_archive
    archive/ComponentTest.cpp
    archive/HostileArchiveTest.cpp
    archive/PinnedFormatsTest.cpp
    archive/RestoreStepsTest.cpp
    archive/RoundTripTest.cpp
    archive/WhatStaysTest.cpp
)
target_link_libraries(archive_tests PRIVATE PkgConfig::LIBZIP)
target_compile_definitions(archive_tests PRIVATE
    PINNED_FORMATS="${CMAKE_CURRENT_SOURCE_DIR}/data/formats")
kavlento_test(applogic_tests kavlento_app
    applogic/CommandLineTest.cpp
    applogic/RetentionTest.cpp
)
kavlento_test(ui_tests kavlento_ui
    ui/MainWindowTest.cpp
    ui/ProgressWindowTest.cpp
    ui/DialogsTest.cpp
)

kavlento_test(app_tests kavlento_program
    app/ProgramFixture.cpp
    app/BackupTest.cpp
    app/HistoryTest.cpp
    app/RestoreTest.cpp
    app/StartupTest.cpp
)

# Restores what the Linux build wrote, for the interop test.
add_executable(restore_archive tools/restore_archive.cpp)
target_link_libraries(restore_archive PRIVATE kavlento_sources kavlento_archive)
