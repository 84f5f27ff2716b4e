// The set-up menus of uartdrvtest: each answer picks a request value.
#ifndef TOOLS_UARTDRVTEST_MENUS_H
#define TOOLS_UARTDRVTEST_MENUS_H

namespace uartdrvtest {

struct Choice {
    char answer;
    unsigned long value;
};

struct Menu {
    const char *const *lines; // printed before the answer is read
    unsigned long request;    // 0: the answer is read and not used
    const Choice *choices;
    int choice_count;
    const char *invalid; // line printed for any other answer
};

extern const Menu kPortMenu;
extern const Menu kPinGroupMenu;
extern const Menu kModeMenu;
extern const Menu kBaudMenu;

// One answer from standard input, newlines and carriage returns skipped;
// EOF at the end of input.
int read_answer();

// Prints the menu, reads its answer and issues its request. Returns false
// (after the invalid line) for an answer the menu does not offer.
bool run_menu(const Menu &menu, int fd);

} // namespace uartdrvtest

#endif
