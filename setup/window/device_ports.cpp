// TDevice: the port lists of the link and search groups, filled from the ports present.
#include "device_u.h"

#include "extlibs/ex_com/ex_com.h"
#include "main_form.h"
#include "main_u.h"

#include <QComboBox>
#include <QSignalBlocker>

#include <vector>

namespace {

void AddPort(void *list, const char *name)
{
    static_cast<QStringList *>(list)->append(QString::fromUtf8(name));
}

} // namespace

std::int32_t TDevice::SearchPorts()
{
    if (!FForm)
        return -1;
    Ui::TfMain &ui = *FForm->ui;
    std::vector<char> buffer(EX_PORT_LIST_SIZE, '\0');
    char *text = buffer.data();
    LastError = EX_SearchAvailableCOMPorts(LinkHandle, 0, 0, &text);
    // A failed listing gives both lists the fallback; a failed split of the first list's names
    // gives it no items and the second list the fallback.
    for (QComboBox *list : {ui.TS0CB0, ui.TS0CB2}) {
        QStringList items{QStringLiteral("COM1"), QStringLiteral("COM2")};
        if (LastError == 0) {
            items.clear();
            LastError = EX_ExtractAvailableCOMPorts(buffer.data(), &items, AddPort);
        }
        // Filling the lists is no change of a project.
        const QSignalBlocker quiet(list);
        list->clear();
        list->addItems(items);
        list->setCurrentIndex(list->count() > 0 ? 0 : -1);
    }
    const QSignalBlocker quiet(ui.TS0CB1);
    ui.TS0CB1->setCurrentIndex(ui.TS0CB1->findText(QStringLiteral("9600")));
    return LastError;
}
