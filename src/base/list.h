// Intrusive doubly linked list: each record carries its own link, and an
// unlinked link points to itself. Used by the event loop and the timer
// service, whose records are owned by their users.
#pragma once

namespace cnxd {

struct list_head {
    list_head* next = this;
    list_head* prev = this;

    list_head() = default;
    // A copy is a new, unlinked link: the links of the original belong to
    // the original's place in its list. (Records are zeroed with `rec = {}`.)
    list_head(const list_head&) {}
    list_head& operator=(const list_head&)
    {
        next = prev = this;
        return *this;
    }
};

inline void list_init(list_head* h)
{
    h->next = h;
    h->prev = h;
}

inline bool list_empty(const list_head* h) { return h->next == h; }

// Insert `n` right before `pos` (at the tail when `pos` is the head).
inline void list_add_before(list_head* n, list_head* pos)
{
    n->prev = pos->prev;
    n->next = pos;
    pos->prev->next = n;
    pos->prev = n;
}

inline void list_add_tail(list_head* n, list_head* head) { list_add_before(n, head); }

inline void list_del_init(list_head* n)
{
    n->prev->next = n->next;
    n->next->prev = n->prev;
    list_init(n);
}

}  // namespace cnxd
