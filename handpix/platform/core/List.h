// CObject and CObList: the pointer list of MFC with its POSITION cursor. A
// POSITION stays valid until its own node is removed, whatever else changes.
#pragma once
#include <cstddef>

class CObject {
public:
    CObject() = default;
    virtual ~CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

namespace handpix {
struct PositionTag {};
}  // namespace handpix
using POSITION = handpix::PositionTag*;

class CObList {
public:
    explicit CObList(int nBlockSize = 10) { (void)nBlockSize; }
    ~CObList() { RemoveAll(); }
    CObList(const CObList&) = delete;
    CObList& operator=(const CObList&) = delete;

    int GetCount() const { return m_count; }
    int GetSize() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

    POSITION AddTail(CObject* p) { return Link(new Node{p, m_tail, nullptr}); }
    POSITION AddHead(CObject* p) { return Link(new Node{p, nullptr, m_head}); }

    POSITION GetHeadPosition() const { return Pos(m_head); }
    POSITION GetTailPosition() const { return Pos(m_tail); }
    CObject* GetHead() const { return m_head ? m_head->data : nullptr; }
    CObject* GetTail() const { return m_tail ? m_tail->data : nullptr; }
    // Returns the element at pos and moves pos to the next one (null after the last).
    CObject*& GetNext(POSITION& pos) const {
        Node* n = NodeOf(pos);
        pos = Pos(n->next);
        return n->data;
    }
    CObject*& GetPrev(POSITION& pos) const {
        Node* n = NodeOf(pos);
        pos = Pos(n->prev);
        return n->data;
    }
    CObject*& GetAt(POSITION pos) const { return NodeOf(pos)->data; }
    void SetAt(POSITION pos, CObject* p) { NodeOf(pos)->data = p; }

    // First position holding p at or after `after`'s successor (from the head when null).
    POSITION Find(const CObject* p, POSITION after = nullptr) const {
        for (Node* n = after ? NodeOf(after)->next : m_head; n; n = n->next)
            if (n->data == p) return Pos(n);
        return nullptr;
    }
    POSITION FindIndex(int index) const {
        if (index < 0) return nullptr;
        Node* n = m_head;
        for (; n && index > 0; --index) n = n->next;
        return Pos(n);
    }

    void RemoveAt(POSITION pos) {
        Node* n = NodeOf(pos);
        (n->prev ? n->prev->next : m_head) = n->next;
        (n->next ? n->next->prev : m_tail) = n->prev;
        delete n;
        --m_count;
    }
    CObject* RemoveHead() {
        CObject* p = m_head->data;
        RemoveAt(Pos(m_head));
        return p;
    }
    CObject* RemoveTail() {
        CObject* p = m_tail->data;
        RemoveAt(Pos(m_tail));
        return p;
    }
    void RemoveAll() {
        while (m_head) {
            Node* next = m_head->next;
            delete m_head;
            m_head = next;
        }
        m_tail = nullptr;
        m_count = 0;
    }

private:
    struct Node : handpix::PositionTag {
        Node(CObject* d, Node* p, Node* n) : data(d), prev(p), next(n) {}
        CObject* data;
        Node* prev;
        Node* next;
    };
    static POSITION Pos(Node* n) { return n; }
    static Node* NodeOf(POSITION p) { return static_cast<Node*>(p); }
    POSITION Link(Node* n) {
        (n->prev ? n->prev->next : m_head) = n;
        (n->next ? n->next->prev : m_tail) = n;
        ++m_count;
        return n;
    }

    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    int m_count = 0;
};
