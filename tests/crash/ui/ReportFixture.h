#pragma once
// A report as the handling flow fills it, for the window tests.

#include "crash/core/report/ExceptionReport.h"

#include <QString>
#include <memory>

namespace crashtest {

inline std::shared_ptr<crash::ExceptionReport>
MakeReport(const QString& message = QStringLiteral("Not find rcc.exe"), bool canContinue = true,
           bool freeze = false)
{
    auto report = std::make_shared<crash::ExceptionReport>(
        0, freeze ? crash::ExceptionType::Freeze : crash::ExceptionType::Exception, QStringList{"Exception"},
        QStringLiteral("Exception"), message, crash::ExceptionSource::ApplicationHandleException,
        canContinue);
    return report;
}

inline void FillReport(crash::ExceptionReport& report)
{
    report.header().setAcceptingData(true);
    report.sections().setAcceptingData(true);
    report.beginUpdate();
    report.header().setField("date/time", "2026-12-07, 11:30:12, 345ms");
    report.header().setField("computer name", "BUILDHOST");
    report.header().setField("user name", "tester");
    report.header().setField("executable", "MireluneSkinTool");
    report.header().setField("exception class", "Exception");
    report.header().setField("exception message", "Not find rcc.exe.");
    report.sections().setField(
        "main thread ($1a2b)",
        "0046c2a8 +008 MireluneSkinTool uMain           27 +2 TfrmMain::Button_MakeClick\n"
        "0046b100 +010 MireluneSkinTool ResourceCompiler 88 +0 RunRcc\n"
        "7f001000 +000 libQt6Widgets.so                      QAbstractButton::click");
    report.sections().setField("thread $2c3d", "7f002000 +010 libc.so.6 futex_wait");
    report.sections().setField(
        "modules", "00400000 MireluneSkinTool 1.0.0.0 /opt/skintool/MireluneSkinTool\n"
                   "7f000000 libQt6Widgets.so.6 6.4.2.0 /usr/lib/x86_64-linux-gnu/libQt6Widgets.so.6");
    report.sections().setField("processes", "0001 init normal /sbin/init\n"
                                            "04d2 MireluneSkinTool normal /opt/skintool/MireluneSkinTool");
    report.sections().setField("hardware",
                               "+ Display adapters\n  - Xvfb virtual display\n+ Processors\n  - x86-64");
    report.sections().setField("cpu registers",
                               "rax = 0000000000000000\nrbx = 00007ffd1234abcd\nrip = 000000000046c2a8");
    report.sections().setField("stack dump", "7ffd1234a000  a0 f9 12 00 e4 f9 12 00  ........\n"
                                             "7ffd1234a008  00 00 00 00 01 00 00 00  ........");
    report.sections().setField("disassembling",
                               "0046c2a0      push rbp\n0046c2a8   >  mov eax, [rbx]   ; the fault");
    report.endUpdate();
}

} // namespace crashtest
