
export default class KeyquillExtension extends Extension {
    enable() {
        this._helper = new KeyquillShell();
        this._helper.enable();
    }

    disable() {
        this._helper.disable();
        this._helper = null;
    }
}
