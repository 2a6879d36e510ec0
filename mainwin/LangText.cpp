#include "LangText.h"

#include <initializer_list>

namespace {

// The texts are kept as UTF-8 (u8 literals: no code page can change them) and widened once at
// start-up: Cyrillic takes two bytes either way, Latin one instead of two, in a download that
// must stay small.
vcl::String Widen(const char8_t* text) {
  const char* bytes = reinterpret_cast<const char*>(text);
  return vcl::Utf8ToString(bytes, std::char_traits<char>::length(bytes));
}

// The manuals are composed from their fragments; every fragment but the last ends with a line
// feed, so the manual ends without one.
vcl::String Compose(std::initializer_list<const char8_t*> fragments) {
  vcl::String text;
  for (const char8_t* f : fragments) text += Widen(f);
  return text;
}

const TLangText* BuildLangText() {
  std::vector<vcl::String> texts;
  texts.reserve(txtPairCount * 2);
  auto pair = [&texts](const char8_t* russian, const char8_t* english) {
    texts.push_back(Widen(russian));
    texts.push_back(Widen(english));
  };
  pair(u8"Выполняется установка виджета", u8"Widget installation in progress");
  pair(u8"Язык", u8"Language");
  pair(u8"IP Адрес ПК", u8"IP Address PC");
  pair(u8"* Если отображается более одного IP адреса - используйте тот который расположен в одной подсети с ТВ",
       u8"* If more than one IP address is displayed, use the one located on the same subnet as the TV.");
  pair(u8"Обновить IP", u8"Refresh IP");
  pair(u8"Серия ТВ", u8"Series TV");
  pair(u8"Установить Виджет", u8"Widget Install");
  pair(u8"IP Адрес телевизора", u8"IP Address TV");
  pair(u8"Установка Виджета", u8"Widget Installation");
  pair(u8"Введите IP вашего ТВ, Выберите его серию, Нажмите \"Установить виджет\"",
       u8"Enter the IP of your TV, Select its series, Click \"Install Widget\"");
  pair(u8"Процесс установки завершен. Проверьте наличие виджета в SmartHub Вашего ТВ.",
       u8"Installation process is complete. Check presence of widget in SmartHub of Your TV.");
  pair(u8"IP Адрес ТВ не задан или имеет не верный формат.", u8"IP Address TV is not set or has the wrong format.");
  pair(u8"Инструкция по установке", u8"Installation manual");
  texts.push_back(Compose({
      u8"1. Включить режим разработчика в ТВ:\n  1.1. Для чего Войти в SmartHub и ввести с пульта 7 0 9 6 8.\n  1.2. В "
      u8"открывшемся окне установить \"Developer Mode\"=\"ON\" \n",
      u8"  1.3. В поле ввода \"Host PC IP\" ввести IP адрес ПК (из области \"IP Адрес ПК\" этой программы)\n",
      u8"  1.4. Выбрать и нажать экранную кнопку ОК.\n  1.5. Выключить телевизор из розетки.Несколько раз нажать на "
      u8"пульте кнопку Включения.\n  1.6. Включить в розетку. Включить кнопкой включения на пульте\n",
      u8"  1.7. Подождать 1-2 минуты пока телевизор полностью загрузится\n",
      u8"2. Получить IP адрес ТВ\n",
      u8"  2.1. На ТВ войти Меню->Сеть->Состояние сети\n",
      u8"  2.2. По окончанию пропроверки сети выбрать \"Настройки IP\"\n",
      u8"  2.3. Адрес указанный в строке \"IP-адрес\" вписать в поле \"IP Адрес телевизора\" данной программы.\n",
      u8"3. Приступить непосредственно к установке виджета\n",
      u8"  3.1. Проверить правильность выбора IP адреса и Серии Вашего ТВ\n",
      u8"  3.2. Кликнуть по кнопке \"Установить Виджет\" и дождаться окончания процесса установки\n",
      u8"  3.3. В процессе установки на вопросы бредмауэра отвечать \"НЕ БЛОКИРОВАТЬ\"\n",
      u8"  3.4. По окончании процесса установки проверить наличие виджета в разделе SmartHub \"Мои App\"\n",
      u8"4. Если установка не увенчалась успехом: перезагрузите ПК и ТВ, отключите брендмауэр и антивирусы блокирующие "
      u8"сетевое подключение, еще раз проверьте все параметры и попробуйте повторить установку.",
  }));
  texts.push_back(Compose({
      u8"1. Enable developer mode in TV:\n  1.1. You need Run SmartHub and from the remote control enter 7 0 9 6 8.\n  "
      u8"1.2. In the open window set \"Developer Mode\"=\"ON\" \n",
      u8"  1.3. In the input field \"Host PC IP\" enter the IP address this PC (from area \"IP Address PC\" this "
      u8"application)\n",
      u8"  1.4. Select and click screen-button OK.\n  1.5. Turn off the TV from the outlet. Press the power button on "
      u8"the remote several times.\n  1.6. Turn on the TV in the outlet. Turn on with the power button on the "
      u8"remote.\n",
      u8"  1.7. Wait 1-2 minutes until the TV is fully loaded\n",
      u8"2. Get the IP address of the TV\n",
      u8"  2.1. On TV enter Menu-> Network-> Network Status\n",
      u8"  2.2. At the end of the network test, select \"IP Setting\"\n",
      u8"  2.3. The address specified in the line \"IP-address\" enter in the field \"IP Address TV\" this "
      u8"application.\n",
      u8"3. Proceed directly to install the widget\n",
      u8"  3.1. Check the correctness of the choice of IP address and your TV series\n",
      u8"  3.2. Click on the button \"Install widget\" and wait for the installation process to finish.\n",
      u8"  3.3. During the installation process, answer the questions of the Bredmauer - \"NO-BLOCKING\"\n",
      u8"  3.4. At the end of the installation process, check the widget presence in the SmartHub section \"My App\"\n",
      u8"4. If the installation was not successful: restart your PC and TV, disabled the firewall and the antivirus "
      u8"blocking the network connection, check all the parameters again and try the installation again.",
  }));
  pair(u8"При установке виджета произошли ошибки. Установка не выполнена.",
       u8"There were errors while installing the widget. Installation failed.");
  pair(
      u8"Телевизор не отвечает по адресу %ADDRESS%: он выключен, адрес введён неверно или компьютер "
      u8"находится в другой сети.\n\nПроверьте адрес телевизора (пункты 2.1-2.3 инструкции) и что компьютер "
      u8"и телевизор подключены к одной сети.",
      u8"The TV does not answer at %ADDRESS%: it is switched off, the address is wrong, or the PC is in "
      u8"another network.\n\nCheck the TV's address (manual steps 2.1-2.3) and that the PC and the TV are in "
      u8"the same network.");
  pair(u8"На телевизоре выключен режим разработчика.\n\nВключите его, как описано в пункте 1 инструкции.",
       u8"Developer mode is off on the TV.\n\nTurn it on as step 1 of the manual describes.");
  pair(
      u8"Телевизор принимает подключения только от другого компьютера (%TVHOSTPC%).\n\nВ поле \"Host PC IP\" "
      u8"на телевизоре введите адрес этого компьютера %THISPC% и перезагрузите телевизор из розетки "
      u8"(пункты 1.3-1.7 инструкции).",
      u8"The TV accepts connections only from another PC (%TVHOSTPC%).\n\nEnter this PC's address %THISPC% "
      u8"in the TV's \"Host PC IP\" field and restart the TV from the outlet (manual steps 1.3-1.7).");
  pair(
      u8"Режим разработчика включён для этого компьютера, но подключиться не удалось: он ещё не вступил в "
      u8"силу, или подключение блокирует брандмауэр.\n\nПерезагрузите телевизор из розетки (пункты 1.5-1.7 "
      u8"инструкции) и разрешите программе установки доступ к сети в брандмауэре.",
      u8"Developer mode is on for this PC, yet the connection failed: it has not taken effect yet, or a "
      u8"firewall blocks the connection.\n\nRestart the TV from the outlet (manual steps 1.5-1.7) and allow "
      u8"the installer through the firewall.");
  pair(
      u8"Не удалось подключиться к телевизору %ADDRESS%.\n\nПроверьте, что на телевизоре включён режим "
      u8"разработчика и в поле \"Host PC IP\" указан адрес этого компьютера, затем перезагрузите телевизор "
      u8"из розетки (пункт 1 инструкции).",
      u8"The installer could not connect to the TV at %ADDRESS%.\n\nCheck that developer mode is on and that "
      u8"the TV's \"Host PC IP\" is this PC's address, then restart the TV from the outlet (manual step 1).");
  pair(u8"Телевизор заблокирован.\n\nРазблокируйте его и повторите установку.",
       u8"The TV is locked.\n\nUnlock it and install again.");
  pair(
      u8"На телевизоре нет папки для загрузки выбранной серии ТВ.\n\nВыберите серию \"%SERIES%\" и повторите "
      u8"установку.",
      u8"The TV has no upload folder of the chosen TV series.\n\nChoose the series \"%SERIES%\" and install "
      u8"again.");
  pair(
      u8"На телевизоре уже есть копия виджета, подписанная другим автором, и удалить её не удалось.\n\n"
      u8"Удалите виджет на телевизоре и повторите установку.",
      u8"Another copy of the widget, signed by someone else, is on the TV and could not be removed.\n\n"
      u8"Remove the widget on the TV, then install again.");
  pair(
      u8"По часам телевизора подпись виджета ещё не действует: на нём неверные дата и время.\n\nУстановите "
      u8"на телевизоре правильные дату и время и повторите установку.",
      u8"By the TV's clock the widget's signature is not valid yet: its date and time are wrong.\n\nSet the "
      u8"TV's date and time, then install again.");
  pair(u8"Файл виджета в программе установки повреждён.\n\nСкачайте программу установки заново.",
       u8"The widget file inside the installer is damaged.\n\nDownload the installer again.");
  pair(
      u8"На телевизоре не хватает свободного места.\n\nУдалите ненужные приложения на телевизоре и повторите "
      u8"установку.",
      u8"There is not enough free space on the TV.\n\nRemove some apps on the TV, then install again.");
  pair(
      u8"Телевизор сообщил, что установка завершена, но виджета нет в списке его приложений.\n\n"
      u8"Перезагрузите телевизор и повторите установку.",
      u8"The TV reported the installation complete, but the widget is not in its app list.\n\nRestart the "
      u8"TV and install again.");
  pair(u8"Причину определить не удалось; подробности в файлах папки doLog.\n\nВыполните пункт 4 инструкции.",
       u8"The cause could not be found; the files of the doLog folder have the details.\n\nFollow step 4 of "
       u8"the manual.");
  return new TLangText(std::move(texts));
}

}  // namespace

const TLangText* const langText = BuildLangText();
