#pragma once

#include "platform/printer.h"

#include <QList>
#include <QSet>

namespace tvx::test {

// A printer that records what is printed and fails the calls a test chooses.
class FakePrinter final : public Printer {
public:
    using Document = QList<QByteArray>;

    // Calls are counted from 0 over printLine and endDocument together, in order.
    void failCalls(const QSet<int> &calls) { m_failing = calls; }
    void failEveryCall(bool fail = true) { m_failAll = fail; }

    // Documents handed to the printer as jobs, each with its lines.
    const QList<Document> &jobs() const { return m_jobs; }
    // Lines of the document that has not been ended.
    const Document &openDocument() const { return m_open; }
    int calls() const { return m_calls; }
    // The selection dialog is cancelled every time.
    int dialogsShown() const { return m_dialogs; }
    QWidget *lastDialogParent() const { return m_dialogParent; }

    bool printLine(const QByteArray &line) override;
    bool endDocument() override;
    bool showPrinter(QWidget *parent) override;
    QString errorString() const override { return QStringLiteral("fake printer failure"); }

private:
    bool failsNow();

    QSet<int> m_failing;
    bool m_failAll = false;
    QList<Document> m_jobs;
    Document m_open;
    bool m_isOpen = false;
    int m_calls = 0;
    int m_dialogs = 0;
    QWidget *m_dialogParent = nullptr;
};

} // namespace tvx::test
