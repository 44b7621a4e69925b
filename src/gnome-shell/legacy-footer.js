
let helper = null;
function init() {}
function enable() {
    helper = new KeyquillShell();
    helper.enable();
}
function disable() {
    helper.disable();
    helper = null;
}
