#pragma once
// The settings keys of the built-in default table, in table order, with their kind and default.
// FLAG(key, default), NUMBER(key, default), TEXT(key, default as a UTF-16 literal).

#define HALVORN_DEFAULT_SETTINGS(FLAG, NUMBER, TEXT)                                                         \
    FLAG(Enabled, false)                                                                                     \
    FLAG(NoSettings, true)                                                                                   \
    FLAG(CheckFileCrc, true)                                                                                 \
    FLAG(CheckFreeze, false)                                                                                 \
    NUMBER(FreezeTimeout, 60)                                                                                \
    FLAG(WindowsLogo, false)                                                                                 \
    FLAG(ReportLeaks, false)                                                                                 \
    FLAG(CrashOnOverrun, false)                                                                              \
    FLAG(CrashOnUnderrun, false)                                                                             \
    FLAG(AutoSave, true)                                                                                     \
    FLAG(AutoSaveIfNotSent, true)                                                                            \
    FLAG(AutoSend, false)                                                                                    \
    FLAG(AutoSendBox, false)                                                                                 \
    FLAG(AutoClip, true)                                                                                     \
    FLAG(PauseThreads, false)                                                                                \
    FLAG(PlWaitBox, true)                                                                                    \
    FLAG(AutoContinue, false)                                                                                \
    NUMBER(AutoRestart, 0)                                                                                   \
    NUMBER(AutoClose, 0)                                                                                     \
    NUMBER(AutoDelay, 60)                                                                                    \
    FLAG(SendBtnVis, true)                                                                                   \
    FLAG(SaveBtnVis, false)                                                                                  \
    FLAG(PrintBtnVis, false)                                                                                 \
    FLAG(ShowBtnVis, true)                                                                                   \
    FLAG(ContinueBtnVis, true)                                                                               \
    FLAG(RestartBtnVis, true)                                                                                \
    FLAG(CloseBtnVis, true)                                                                                  \
    NUMBER(FocusedBtn, 0)                                                                                    \
    TEXT(SendAssis, u"")                                                                                     \
    TEXT(SaveAssis, u"")                                                                                     \
    TEXT(PrintAssis, u"")                                                                                    \
    FLAG(AutoShowBugRep, false)                                                                              \
    FLAG(UglyBtns, false)                                                                                    \
    FLAG(SendInBackgr, true)                                                                                 \
    FLAG(UploadViaHttp, false)                                                                               \
    TEXT(HttpServer, u"")                                                                                    \
    FLAG(HttpSsl, false)                                                                                     \
    NUMBER(HttpPort, 0)                                                                                      \
    TEXT(HttpAccount, u"")                                                                                   \
    TEXT(HttpPassword, u"")                                                                                  \
    FLAG(FogBugz, false)                                                                                     \
    FLAG(BugZilla, false)                                                                                    \
    FLAG(Mantis, false)                                                                                      \
    TEXT(BugTrAccount, u"")                                                                                  \
    TEXT(BugTrPassword, u"")                                                                                 \
    TEXT(BugTrProject, u"")                                                                                  \
    TEXT(BugTrArea, u"")                                                                                     \
    TEXT(BugTrAssignTo, u"")                                                                                 \
    FLAG(MailAsSmtpServer, false)                                                                            \
    FLAG(MailAsSmtpClient, false)                                                                            \
    TEXT(SmtpServer, u"")                                                                                    \
    FLAG(SmtpSsl, false)                                                                                     \
    FLAG(SmtpTls, false)                                                                                     \
    NUMBER(SmtpPort, 0)                                                                                      \
    TEXT(SmtpAccount, u"")                                                                                   \
    TEXT(SmtpPassword, u"")                                                                                  \
    FLAG(MailViaMapi, true)                                                                                  \
    FLAG(MailViaMailto, true)                                                                                \
    TEXT(MailAddr, u"")                                                                                      \
    TEXT(MailFrom, u"")                                                                                      \
    FLAG(AttachBugRep, true)                                                                                 \
    FLAG(AttachBugRepFile, true)                                                                             \
    FLAG(DelBugRepFile, true)                                                                                \
    TEXT(BugRepSendAs, u"bugreport.qbr")                                                                     \
    TEXT(BugRepZip, u"")                                                                                     \
    NUMBER(ScrShotDepth, 0)                                                                                  \
    FLAG(ScrShotAppOnly, true)                                                                               \
    TEXT(ScrShotSendAs, u"screenshot.png")                                                                   \
    TEXT(ScrShotZip, u"")                                                                                    \
    TEXT(AddAttachs, u"")                                                                                    \
    TEXT(AddFields, u"")                                                                                     \
    TEXT(BugRepFile, u"bugreport.qbr")                                                                       \
    FLAG(AppendBugReps, true)                                                                                \
    NUMBER(BugRepFileSize, 100000)                                                                           \
    FLAG(NoDupExcepts, true)                                                                                 \
    FLAG(NoDupFreezes, true)                                                                                 \
    NUMBER(DupExceptDef, 1)                                                                                  \
    NUMBER(DupFreezeDef, 2)                                                                                  \
    FLAG(ListThreads, true)                                                                                  \
    FLAG(CpuRegs, true)                                                                                      \
    FLAG(StackDump, true)                                                                                    \
    FLAG(ShowDisAsm, true)                                                                                   \
    FLAG(HideUglyItems, false)                                                                               \
    FLAG(ShowRelAddrs, true)                                                                                 \
    FLAG(ShowRelLines, true)                                                                                 \
    FLAG(FormatDisAsm, false)                                                                                \
    NUMBER(LimitDisAsm, 5)                                                                                   \
    TEXT(Plugins, u"modules|processes|hardware")                                                             \
    TEXT(F1Classes, u"")                                                                                     \
    FLAG(F1NoBugRep, false)                                                                                  \
    FLAG(F1NoScrShot, false)                                                                                 \
    FLAG(F1NoHandlers, false)                                                                                \
    FLAG(F1NoSuspend, false)                                                                                 \
    NUMBER(F1ShowCfg, 0)                                                                                     \
    TEXT(F1Assis, u"")                                                                                       \
    TEXT(F2Classes, u"")                                                                                     \
    FLAG(F2NoBugRep, false)                                                                                  \
    FLAG(F2NoScrShot, false)                                                                                 \
    FLAG(F2NoHandlers, false)                                                                                \
    FLAG(F2NoSuspend, false)                                                                                 \
    NUMBER(F2ShowCfg, 0)                                                                                     \
    TEXT(F2Assis, u"")                                                                                       \
    FLAG(GnNoBugRep, false)                                                                                  \
    FLAG(GnNoScrShot, false)                                                                                 \
    FLAG(GnNoHandlers, false)                                                                                \
    FLAG(GnNoSuspend, false)                                                                                 \
    NUMBER(GnShowCfg, 0)                                                                                     \
    TEXT(GnAssis, u"")                                                                                       \
    TEXT(TitleBar, u"%appname%")                                                                             \
    TEXT(ExceptMsg, u"An error occurred in the application.")                                                \
    TEXT(FrozenMsg, u"The application seems to be frozen.")                                                  \
    TEXT(BitFaultMsg, u"The file \"%modname%\" seems to be corrupt!")                                        \
    TEXT(SendBtnTxt, u"send bug report")                                                                     \
    TEXT(SaveBtnTxt, u"save bug report")                                                                     \
    TEXT(PrintBtnTxt, u"print bug report")                                                                   \
    TEXT(ShowBtnTxt, u"show bug report")                                                                     \
    TEXT(ContinueBtnTxt, u"continue application")                                                            \
    TEXT(RestartBtnTxt, u"restart application")                                                              \
    TEXT(CloseBtnTxt, u"close application")                                                                  \
    TEXT(OkBtnTxt, u"&OK")                                                                                   \
    TEXT(DetailsBtnTxt, u"&Details")                                                                         \
    TEXT(PlWaitTitle, u"Information")                                                                        \
    TEXT(PlWaitText, u"Please wait a moment...")                                                             \
    TEXT(BugTrTitle, u"%appname%, %exceptMsg%")                                                              \
    TEXT(BugTrDescr, u"error details: \r\n%errorDetails%")                                                   \
    TEXT(MailSubj, u"bug report")                                                                            \
    TEXT(MailBody, u"please find the bug report attached")                                                   \
    TEXT(SendBoxTitle, u"Sending bug report...")                                                             \
    TEXT(PrepAttMsg, u"Prepare attachments...")                                                              \
    TEXT(MxLookMsg, u"Searching for mail server...")                                                         \
    TEXT(ConnMsg, u"Connecting to server...")                                                                \
    TEXT(SendMailMsg, u"Sending mail...")                                                                    \
    TEXT(FieldMsg, u"Setting fields...")                                                                     \
    TEXT(SendAttMsg, u"Sending attachments...")                                                              \
    TEXT(SendFinalMsg, u"Finalizing...")                                                                     \
    TEXT(SendFailMsg, u"Sorry, sending the bug report didn't work.")                                         \
    NUMBER(VersionVar, 0)
