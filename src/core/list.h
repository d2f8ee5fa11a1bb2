// The one list discipline of the library: intrusive, doubly linked through
// the elements' own `prev` and `next` fields, appended at the tail. Callers
// hold the owner's list lock around each call.
#pragma once

namespace lyfs {

template <typename T>
void list_append(T*& head, T* element) {
    element->next = nullptr;
    if (head == nullptr) {
        element->prev = nullptr;
        head = element;
        return;
    }
    T* last = head;
    while (last->next != nullptr) {
        last = last->next;
    }
    last->next = element;
    element->prev = last;
}

template <typename T>
bool list_contains(T* head, const T* element) {
    for (T* it = head; it != nullptr; it = it->next) {
        if (it == element) {
            return true;
        }
    }
    return false;
}

// Appends in constant time to a list that also keeps its tail.
template <typename T>
void list_append(T*& head, T*& tail, T* element) {
    element->next = nullptr;
    element->prev = tail;
    if (tail != nullptr) {
        tail->next = element;
    } else {
        head = element;
    }
    tail = element;
}

// Unlinks the element wherever it is; an element that is not in the list
// leaves the list unchanged.
template <typename T>
void list_remove(T*& head, T* element) {
    if (element == nullptr || !list_contains(head, element)) {
        return;
    }
    if (element == head) {
        head = element->next;
        if (head != nullptr) {
            head->prev = nullptr;
        }
    } else {
        element->prev->next = element->next;
        if (element->next != nullptr) {
            element->next->prev = element->prev;
        }
    }
    element->prev = nullptr;
    element->next = nullptr;
}

template <typename T>
void list_remove(T*& head, T*& tail, T* element) {
    if (element != nullptr && element == tail && list_contains(head, element)) {
        tail = element->prev;
    }
    list_remove(head, element);
}

template <typename T, typename Predicate>
T* list_find(T* head, Predicate matches) {
    for (T* it = head; it != nullptr; it = it->next) {
        if (matches(it)) {
            return it;
        }
    }
    return nullptr;
}

}  // namespace lyfs
