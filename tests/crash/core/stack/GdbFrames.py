# Prints every thread's frames as gdb sees them, one line each:
#   G <thread id> <kind> <function>|<source file>|<line>
# kind: "tail" for frames gdb reconstructs from tail-call information, else "frame".
import gdb

for inferior in gdb.inferiors():
    for thread in inferior.threads():
        thread.switch()
        frame = gdb.newest_frame()
        depth = 0
        while frame is not None and depth < 256:
            sal = frame.find_sal()
            source = sal.symtab.filename if sal.symtab is not None else ""
            kind = "tail" if frame.type() == gdb.TAILCALL_FRAME else "frame"
            print("G %d %s %s|%s|%d" % (thread.ptid[1], kind, frame.name() or "", source, sal.line))
            frame = frame.older()
            depth += 1
