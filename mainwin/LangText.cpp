#include "LangText.h"

#include <initializer_list>

namespace {

// The manuals are composed from their fragments; every fragment but the last ends with a line
// feed, so the manual ends without one.
vcl::String Compose(std::initializer_list<const wchar_t*> fragments) {
    vcl::String text;
    for (const wchar_t* f : fragments) text += f;
    return text;
}

const TLangText* BuildLangText() {
    std::vector<vcl::String> texts;
    texts.reserve(txtPairCount * 2);
    auto pair = [&texts](const wchar_t* russian, vcl::String english) {
        texts.emplace_back(russian);
        texts.push_back(std::move(english));
    };
    pair(L"Выполняется установка виджета", L"Widget installation in progress");
    pair(L"Язык", L"Language");
    pair(L"IP Адрес ПК", L"IP Address PC");
    pair(L"* Если отображается более одного IP адреса - используйте тот который расположен в одной подсети с ТВ",
         L"* If more than one IP address is displayed, use the one located on the same subnet as the TV.");
    pair(L"Обновить IP", L"Refresh IP");
    pair(L"Серия ТВ", L"Series TV");
    pair(L"Установить Виджет", L"Widget Install");
    pair(L"IP Адрес телевизора", L"IP Address TV");
    pair(L"Установка Виджета", L"Widget Installation");
    pair(L"Введите IP вашего ТВ, Выберите его серию, Нажмите \"Установить виджет\"",
         L"Enter the IP of your TV, Select its series, Click \"Install Widget\"");
    pair(L"Процесс установки завершен. Проверьте наличие виджета в SmartHub Вашего ТВ.",
         L"Installation process is complete. Check presence of widget in SmartHub of Your TV.");
    pair(L"IP Адрес ТВ не задан или имеет не верный формат.",
         L"IP Address TV is not set or has the wrong format.");
    pair(L"Инструкция по установке", L"Installation manual");
    texts.push_back(Compose({
        L"1. Включить режим разработчика в ТВ:\n  1.1. Для чего Войти в SmartHub и ввести с пульта 7 0 9 6 8.\n  1.2. В открывшемся окне установить \"Developer Mode\"=\"ON\" \n",
        L"  1.3. В поле ввода \"Host PC IP\" ввести IP адрес ПК (из области \"IP Адрес ПК\" этой программы)\n",
        L"  1.4. Выбрать и нажать экранную кнопку ОК.\n  1.5. Выключить телевизор из розетки.Несколько раз нажать на пульте кнопку Включения.\n  1.6. Включить в розетку. Включить кнопкой включения на пульте\n",
        L"  1.7. Подождать 1-2 минуты пока телевизор полностью загрузится\n",
        L"2. Получить IP адрес ТВ\n",
        L"  2.1. На ТВ войти Меню->Сеть->Состояние сети\n",
        L"  2.2. По окончанию пропроверки сети выбрать \"Настройки IP\"\n",
        L"  2.3. Адрес указанный в строке \"IP-адрес\" вписать в поле \"IP Адрес телевизора\" данной программы.\n",
        L"3. Приступить непосредственно к установке виджета\n",
        L"  3.1. Проверить правильность выбора IP адреса и Серии Вашего ТВ\n",
        L"  3.2. Кликнуть по кнопке \"Установить Виджет\" и дождаться окончания процесса установки\n",
        L"  3.3. В процессе установки на вопросы бредмауэра отвечать \"НЕ БЛОКИРОВАТЬ\"\n",
        L"  3.4. По окончании процесса установки проверить наличие виджета в разделе SmartHub \"Мои App\"\n",
        L"4. Если установка не увенчалась успехом: перезагрузите ПК и ТВ, отключите брендмауэр и антивирусы блокирующие сетевое подключение, еще раз проверьте все параметры и попробуйте повторить установку.",
    }));
    texts.push_back(Compose({
        L"1. Enable developer mode in TV:\n  1.1. You need Run SmartHub and from the remote control enter 7 0 9 6 8.\n  1.2. In the open window set \"Developer Mode\"=\"ON\" \n",
        L"  1.3. In the input field \"Host PC IP\" enter the IP address this PC (from area \"IP Address PC\" this application)\n",
        L"  1.4. Select and click screen-button OK.\n  1.5. Turn off the TV from the outlet. Press the power button on the remote several times.\n  1.6. Turn on the TV in the outlet. Turn on with the power button on the remote.\n",
        L"  1.7. Wait 1-2 minutes until the TV is fully loaded\n",
        L"2. Get the IP address of the TV\n",
        L"  2.1. On TV enter Menu-> Network-> Network Status\n",
        L"  2.2. At the end of the network test, select \"IP Setting\"\n",
        L"  2.3. The address specified in the line \"IP-address\" enter in the field \"IP Address TV\" this application.\n",
        L"3. Proceed directly to install the widget\n",
        L"  3.1. Check the correctness of the choice of IP address and your TV series\n",
        L"  3.2. Click on the button \"Install widget\" and wait for the installation process to finish.\n",
        L"  3.3. During the installation process, answer the questions of the Bredmauer - \"NO-BLOCKING\"\n",
        L"  3.4. At the end of the installation process, check the widget presence in the SmartHub section \"My App\"\n",
        L"4. If the installation was not successful: restart your PC and TV, disabled the firewall and the antivirus blocking the network connection, check all the parameters again and try the installation again.",
    }));
    pair(L"При установке виджета произошли ошибки. Установка не выполнена.",
         L"There were errors while installing the widget. Installation failed.");
    pair(L"Телевизор не отвечает по адресу %ADDRESS%: он выключен, адрес введён неверно или компьютер "
         L"находится в другой сети.\n\nПроверьте адрес телевизора (пункты 2.1-2.3 инструкции) и что компьютер "
         L"и телевизор подключены к одной сети.",
         L"The TV does not answer at %ADDRESS%: it is switched off, the address is wrong, or the PC is in "
         L"another network.\n\nCheck the TV's address (manual steps 2.1-2.3) and that the PC and the TV are in "
         L"the same network.");
    pair(L"На телевизоре выключен режим разработчика.\n\nВключите его, как описано в пункте 1 инструкции.",
         L"Developer mode is off on the TV.\n\nTurn it on as step 1 of the manual describes.");
    pair(L"Телевизор принимает подключения только от другого компьютера (%TVHOSTPC%).\n\nВ поле \"Host PC IP\" "
         L"на телевизоре введите адрес этого компьютера %THISPC% и перезагрузите телевизор из розетки "
         L"(пункты 1.3-1.7 инструкции).",
         L"The TV accepts connections only from another PC (%TVHOSTPC%).\n\nEnter this PC's address %THISPC% "
         L"in the TV's \"Host PC IP\" field and restart the TV from the outlet (manual steps 1.3-1.7).");
    pair(L"Режим разработчика включён для этого компьютера, но подключиться не удалось: он ещё не вступил в "
         L"силу, или подключение блокирует брандмауэр.\n\nПерезагрузите телевизор из розетки (пункты 1.5-1.7 "
         L"инструкции) и разрешите программе установки доступ к сети в брандмауэре.",
         L"Developer mode is on for this PC, yet the connection failed: it has not taken effect yet, or a "
         L"firewall blocks the connection.\n\nRestart the TV from the outlet (manual steps 1.5-1.7) and allow "
         L"the installer through the firewall.");
    pair(L"Не удалось подключиться к телевизору %ADDRESS%.\n\nПроверьте, что на телевизоре включён режим "
         L"разработчика и в поле \"Host PC IP\" указан адрес этого компьютера, затем перезагрузите телевизор "
         L"из розетки (пункт 1 инструкции).",
         L"The installer could not connect to the TV at %ADDRESS%.\n\nCheck that developer mode is on and that "
         L"the TV's \"Host PC IP\" is this PC's address, then restart the TV from the outlet (manual step 1).");
    pair(L"Телевизор заблокирован.\n\nРазблокируйте его и повторите установку.",
         L"The TV is locked.\n\nUnlock it and install again.");
    pair(L"На телевизоре нет папки для загрузки выбранной серии ТВ.\n\nВыберите серию \"%SERIES%\" и повторите "
         L"установку.",
         L"The TV has no upload folder of the chosen TV series.\n\nChoose the series \"%SERIES%\" and install "
         L"again.");
    pair(L"На телевизоре уже есть копия виджета, подписанная другим автором, и удалить её не удалось.\n\n"
         L"Удалите виджет на телевизоре и повторите установку.",
         L"Another copy of the widget, signed by someone else, is on the TV and could not be removed.\n\n"
         L"Remove the widget on the TV, then install again.");
    pair(L"По часам телевизора подпись виджета ещё не действует: на нём неверные дата и время.\n\nУстановите "
         L"на телевизоре правильные дату и время и повторите установку.",
         L"By the TV's clock the widget's signature is not valid yet: its date and time are wrong.\n\nSet the "
         L"TV's date and time, then install again.");
    pair(L"Файл виджета в программе установки повреждён.\n\nСкачайте программу установки заново.",
         L"The widget file inside the installer is damaged.\n\nDownload the installer again.");
    pair(L"На телевизоре не хватает свободного места.\n\nУдалите ненужные приложения на телевизоре и повторите "
         L"установку.",
         L"There is not enough free space on the TV.\n\nRemove some apps on the TV, then install again.");
    pair(L"Телевизор сообщил, что установка завершена, но виджета нет в списке его приложений.\n\n"
         L"Перезагрузите телевизор и повторите установку.",
         L"The TV reported the installation complete, but the widget is not in its app list.\n\nRestart the "
         L"TV and install again.");
    pair(L"Причину определить не удалось; подробности в файлах папки doLog.\n\nВыполните пункт 4 инструкции.",
         L"The cause could not be found; the files of the doLog folder have the details.\n\nFollow step 4 of "
         L"the manual.");
    return new TLangText(std::move(texts));
}

}  // namespace

const TLangText* const langText = BuildLangText();
