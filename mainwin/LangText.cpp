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
    return new TLangText(std::move(texts));
}

}  // namespace

const TLangText* const langText = BuildLangText();
