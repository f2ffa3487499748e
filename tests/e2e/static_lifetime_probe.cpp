// Reads a static object from a destructor that exit runs after the object's
// own ("late") or before it ("early"); the exit test runs it to see that the
// sanitizer build reports the late read and only that one.
#include <cstring>

namespace
{

volatile int seen = 0;

struct Target {
    int value = 1;
    ~Target() { value = 0; }
};

Target& target()
{
    static Target object;
    return object;
}

struct Reader {
    ~Reader() { seen = target().value; }
};

} // namespace

int main(int argc, char** argv)
{
    // Exit destroys static objects in the reverse order of their construction.
    if (argc > 1 && std::strcmp(argv[1], "late") == 0) {
        static Reader first;
        target();
    } else {
        target();
        static Reader last;
    }
    return 0;
}
