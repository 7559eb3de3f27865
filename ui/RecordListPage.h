#pragma once

#include "ui/MessageBoxView.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDialog>
#include <QIcon>
#include <QList>
#include <QTreeWidget>

#include <memory>

// What the media library page and the application page share: a two-column tree of records
// read from the page's own store, rebuilt after every change, and the add / modify / delete
// sequences through a modal editor. The page keeps its list and store; this works on them.
// `Editor` offers setEditMode, setData and data like the two record editors.
template <class Record, class Store, class Editor> class RecordListPage final
{
public:
    using List = QList<std::shared_ptr<Record>>;

    // `context` is the page's class name, the translation context of its texts.
    RecordListPage(const char* context, QTreeWidget* tree, List& list, Store& store, const QIcon& icon)
        : m_context(context)
        , m_tree(tree)
        , m_list(list)
        , m_store(store)
        , m_icon(icon)
    {
    }

    void rebuild()
    {
        m_tree->clear();
        m_tree->setIndentation(0);
        m_tree->setHeaderLabels({translated("Name"), translated("Path")});
        for (int column = 0; column < m_tree->columnCount(); ++column)
            m_tree->setColumnWidth(column, 360);
        m_store.selectAll(m_list);
        for (const auto& record : qAsConst(m_list)) {
            auto* item = new QTreeWidgetItem(m_tree);
            item->setIcon(0, m_icon);
            item->setText(0, record->name());
            item->setText(1, record->path());
        }
    }

    void add()
    {
        Editor editor(nullptr);
        if (editor.exec() != QDialog::Accepted)
            return;
        m_store.insert(editor.data());
        rebuild();
    }

    void edit()
    {
        const int row = selectedRow();
        if (row < 0)
            return;
        qDebug() << "select row => " << row;
        Editor editor(nullptr);
        editor.setEditMode(true);
        editor.setData(m_list.at(row));
        if (editor.exec() != QDialog::Accepted)
            return;
        m_store.update(editor.data());
        rebuild();
    }

    void remove()
    {
        if (m_tree->selectedItems().isEmpty()) {
            MessageBoxView::information(
                translated("Please select a data item before selecting this operation."));
            return;
        }
        if (!MessageBoxView::question(translated("Are you sure you want to delete this data?")))
            return;
        // The list may have been rebuilt while the question was open; look the row up again.
        const int row = selectedRow();
        if (row < 0)
            return;
        m_store.remove(m_list.at(row)->id());
        rebuild();
    }

private:
    // The page lists these texts for the translation tools under its own context.
    QString translated(const char* text) const { return QCoreApplication::translate(m_context, text); }

    // The record row of the first selected item; -1 (after telling the user) when nothing is
    // selected or the row has no record.
    int selectedRow() const
    {
        const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
        if (selected.isEmpty()) {
            MessageBoxView::information(
                translated("Please select a data item before selecting this operation."));
            return -1;
        }
        const int row = m_tree->indexOfTopLevelItem(selected.first());
        return row >= 0 && row < m_list.size() ? row : -1;
    }

    const char* m_context;
    QTreeWidget* m_tree;
    List& m_list;
    Store& m_store;
    QIcon m_icon;
};
