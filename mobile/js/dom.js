// The one way the views build their elements: a tag, its class, attributes and optional text.
export function node(tag, className, attributes = {}, text = '') {
    const n = document.createElement(tag);
    if (className) n.className = className;
    for (const [k, v] of Object.entries(attributes)) n.setAttribute(k, v);
    if (text) n.textContent = text;
    return n;
}
