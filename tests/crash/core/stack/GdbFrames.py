# Prints every thread's frames as gdb sees them, one line each:
#   G <thread id> <kind> <function>|<source file>|<line>|<pc>|<call>|<function start>
# kind: "tail" for frames gdb reconstructs from tail-call information, else "frame"; pc, the start
# of the call instruction before it (0 for the innermost frame or when none decodes) and the
# function's start in hexadecimal. The selected thread is printed first as "S <thread id>".
# `frame_limit`, when set before, bounds the frames per thread (else 256).
import gdb

limit = globals().get("frame_limit", 256)


call_sites = {}


def call_before(frame, pc):
    if frame.newer() is None:
        return 0
    if pc not in call_sites:
        call_sites[pc] = decode_call_before(frame.architecture(), pc)
    return call_sites[pc]


def decode_call_before(arch, pc):
    for length in (5, 6, 2, 3, 7, 4):
        try:
            insn = arch.disassemble(pc - length, count=1)[0]
        except gdb.error:
            continue
        if insn["length"] == length and insn["asm"].startswith("call"):
            return pc - length
    return 0


def function_start(frame):
    # The real function's entry, also for an inlined frame (as the report's offsets count).
    while frame is not None and frame.type() == gdb.INLINE_FRAME:
        frame = frame.older()
    function = frame.function() if frame is not None else None
    return int(function.value().address) if function is not None else 0


selected = gdb.selected_thread()
if selected is not None:
    print("S %d" % selected.ptid[1])
for inferior in gdb.inferiors():
    for thread in inferior.threads():
        thread.switch()
        frame = gdb.newest_frame()
        depth = 0
        while frame is not None and depth < limit:
            sal = frame.find_sal()
            source = sal.symtab.filename if sal.symtab is not None else ""
            kind = "tail" if frame.type() == gdb.TAILCALL_FRAME else "frame"
            pc = frame.pc()
            try:
                start = function_start(frame)
            except gdb.error:
                start = 0
            print("G %d %s %s|%s|%d|%x|%x|%x" % (thread.ptid[1], kind, frame.name() or "", source, sal.line, pc,
                                                  call_before(frame, pc), start))
            frame = frame.older()
            depth += 1
