// A small Flash movie for the desktop tests: it draws a panel, and answers
// every line the launcher gives it with a command and an external call.
import flash.display.Sprite;
import flash.external.ExternalInterface;
import flash.text.TextField;

class EchoMovie {
  static function fscommand(command:String, args:String) {
    untyped __global__["flash.system.fscommand"](command, args);
  }

  static function main() {
    var stage = flash.Lib.current;
    var panel = new Sprite();
    panel.graphics.beginFill(0x2255AA);
    panel.graphics.drawRect(10, 10, 263, 119);
    panel.graphics.endFill();
    stage.addChild(panel);
    var line = new TextField();
    line.x = 20;
    line.y = 20;
    line.width = 240;
    line.textColor = 0xFFFFFF;
    line.text = "waiting";
    stage.addChild(line);
    ExternalInterface.addCallback("addText", function(text:String) {
      line.text = text;
      fscommand("got", text);
      ExternalInterface.call("validate", "player one", text);
    });
    fscommand("started", "");
  }
}
