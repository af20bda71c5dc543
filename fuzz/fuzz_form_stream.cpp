// Any bytes as an assistant form stream: the reader must never read outside the data, and the form
// built from whatever it kept must hold its three buttons.
#include "crash/ui/FormStream.h"
#include "crash/ui/TNVForm.h"

#include <QApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_form_stream";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    (void)app;
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    (void)crash::ui::ReadFormStream(bytes);
    crash::ui::TNVForm form(nullptr, QStringLiteral("fuzz"), bytes, 1, 1, nullptr);
    if (form.items().size() < 3)
        std::abort();
    return 0;
}
